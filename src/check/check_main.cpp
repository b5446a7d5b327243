// corvane-check: checks a configuration file as the chainer reads it, writes
// one from UTF-8 text, explains result codes and, on Windows, shows what a
// run would do on this machine.
#include <stdio.h>

#include <string>

#include "check/code_explanations.h"
#include "check/config_checker.h"
#include "check/diagnostics.h"
#include "check/package_folder.h"
#include "check/plan.h"
#include "ui/text_languages.h"

// Generated into the build tree from VERSION.
#include <corvane_version.h>

namespace {

const char kUsage[] =
    "usage: corvane-check [--werror] [--json] [--ignore RULE]... [--files DIR] setup.ini\n"
    "       corvane-check --write in.txt out.ini [--werror] [--json] [--ignore RULE]...\n"
    "       corvane-check --explain CODE\n"
    "       corvane-check --languages\n"
    "       corvane-check --plan setup.ini      (Windows)\n"
    "       corvane-check --version\n";

void Print(const std::string& text) { fwrite(text.data(), 1, text.size(), stdout); }
void PrintError(const std::string& text) { fwrite(text.data(), 1, text.size(), stderr); }

int Usage() {
    PrintError(kUsage);
    return 2;
}

std::string Hex(uint32_t code) {
    char buffer[16];
    snprintf(buffer, sizeof(buffer), "0x%08X", code);
    return buffer;
}

int Explain(const WString& text) {
    uint32_t code = 0;
    if (!ParseResultCode(text, &code)) {
        PrintError("corvane-check: " + Utf8(text) + " is not a decimal, negative or hexadecimal code\n");
        return 2;
    }
    std::string forms = std::to_string(static_cast<int32_t>(code)) + " = " + Hex(code);
    if (static_cast<int32_t>(code) < 0) forms += " = " + std::to_string(code);
    const CodeExplanation* entry = ExplainCode(code);
    if (!entry) {
        Print(forms + ": no code of the chainer; a Windows or WinINet error code is shown with the system's text\n");
        return 1;
    }
    Print(forms + ": " + Utf8(WString(entry->name)) + ": " + Utf8(WString(entry->meaning)) + "\n");
    return 0;
}

// The languages the chainer's texts are shipped in, with how many of its
// texts each covers; the chainer shows the user's UI language when it is
// among them (a language of the same family else), English otherwise.
int Languages() {
    for (int i = 0; i < kTextLanguageCount; ++i) {
        char id[8];
        snprintf(id, sizeof(id), "%04X", kTextLanguages[i].languageId);
        Print(std::string(kTextLanguages[i].tag) + " " + id + " " + kTextLanguages[i].name + ": " +
              std::to_string(TextsCovered(i)) + " of " + std::to_string(kShippedTextCount) + " texts\n");
    }
    return 0;
}

// The line of the first byte that is not part of well-formed UTF-8.
int LineOfFirstBadByte(const Array<uint8_t>& bytes) {
    int line = 1;
    for (int i = 0; i < bytes.Size();) {
        const uint8_t lead = bytes[i];
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 1;
        const int available = length < bytes.Size() - i ? length : bytes.Size() - i;
        bool valid = true;
        FromUtf8(reinterpret_cast<const char*>(bytes.begin() + i), static_cast<size_t>(available), &valid);
        if (!valid) return line;
        if (lead == '\n') ++line;
        i += available;
    }
    return line;
}

int Report(DiagnosticList list, const WString& name, bool json, bool werror, const Array<std::string>& ignored) {
    for (const std::string& rule : ignored) (void)list.Ignore(rule);
    Print(json ? list.ToJson(name) : list.ToText(name));
    int errors = list.Count(Severity::kError) + (werror ? list.Count(Severity::kWarning) : 0);
    return errors ? 1 : 0;
}

int Run(const Array<WString>& args) {
    bool json = false, werror = false;
    WString files, explain, plan;
    Array<WString> positional;
    bool write = false;
    Array<std::string> ignored;
    for (int i = 0; i < args.Size(); ++i) {
        const WString& a = args[i];
        if (a == u"--json") json = true;
        else if (a == u"--ignore" && i + 1 < args.Size()) {
            ignored.Add(Utf8(args[++i]));
            if (!IsRuleName(ignored[ignored.Size() - 1])) {
                PrintError("corvane-check: no rule is called " + ignored[ignored.Size() - 1] + "\n");
                return 2;
            }
        }
        else if (a == u"--werror") werror = true;
        else if (a == u"--write") write = true;
        else if (a == u"--files" && i + 1 < args.Size()) files = args[++i];
        else if (a == u"--explain" && i + 1 < args.Size()) explain = args[++i];
        else if (a == u"--plan" && i + 1 < args.Size()) plan = args[++i];
        else if (a == u"--languages") return Languages();
        else if (a == u"--version") {
            Print("corvane-check " CORVANE_VERSION_TEXT "\n");
            return 0;
        } else if (a == u"--help" || a == u"-h") return Usage();
        else if (a.StartsWith(u"--")) return Usage();
        else positional.Add(a);
    }
    if (!explain.IsEmpty()) return Explain(explain);
    if (!plan.IsEmpty()) {
        PlanReport report;
        std::string error;
        if (!EvaluatePlan(plan, &report, &error)) {
            PrintError("corvane-check: " + error + "\n");
            return 2;
        }
        Print(PlanTable(report));
        return 0;
    }
    Array<uint8_t> bytes;
    WString checked;
    if (write) {
        if (positional.Size() != 2) return Usage();
        if (!ReadWholeFile(positional[0], &bytes)) {
            PrintError("corvane-check: cannot read " + Utf8(positional[0]) + "\n");
            return 2;
        }
        bool valid = true;
        WString text = TextFromUtf8File(bytes.begin(), static_cast<size_t>(bytes.Size()), &valid);
        if (!valid) {
            PrintError("corvane-check: " + Utf8(positional[0]) + ":" + std::to_string(LineOfFirstBadByte(bytes)) +
                       ": error: not UTF-8 text (the first bad byte is on this line)\n");
            return 2;
        }
        ChainerFormBytes(text, &bytes);
        if (!WriteWholeFile(positional[1], bytes)) {
            PrintError("corvane-check: cannot write " + Utf8(positional[1]) + "\n");
            return 2;
        }
        // The messages name the file the author edits: its lines are the INI's.
        checked = positional[0];
    } else {
        if (positional.Size() != 1) return Usage();
        checked = positional[0];
        if (!ReadWholeFile(checked, &bytes)) {
            PrintError("corvane-check: cannot read " + Utf8(checked) + "\n");
            return 2;
        }
    }
    PackageFolder folder(files);
    CheckOptions options;
    if (!files.IsEmpty()) options.files = &folder;
    return Report(CheckConfigurationFile(bytes.begin(), static_cast<size_t>(bytes.Size()), options), checked, json,
                  werror, ignored);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    Array<WString> args;
    for (int i = 1; i < argc; ++i) args.Add(WString(argv[i]));
    return Run(args);
}
#else
bool EvaluatePlan(const WString&, PlanReport*, std::string* error) {
    *error = "--plan runs the chainer's evaluation and needs the Windows build (corvane-check.exe)";
    return false;
}

int main(int argc, char** argv) {
    Array<WString> args;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        args.Add(FromUtf8(a.data(), a.size()));
    }
    return Run(args);
}
#endif
