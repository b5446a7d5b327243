#include "check/code_explanations.h"

#include <stdio.h>

#include "check/diagnostics.h"
#include "config/ini_document.h"
#include "config/ini_path.h"
#include "config/prerequisite.h"
#include "download/result_codes.h"
#include "install/command_line.h"
#include "install/return_codes.h"
#include "platform/references.h"

// The list the progress dialog's texts come from too.
#define RESULT_TEXT(code, name, id, text) {code, u"" #name, u"" text},
const CodeExplanation kCodeExplanations[] = {
#include "ui/result_texts.inc"
};
#undef RESULT_TEXT
const int kCodeExplanationCount = sizeof(kCodeExplanations) / sizeof(kCodeExplanations[0]);

bool ParseResultCode(const WString& text, uint32_t* code) {
    WString t = text.Trimmed();
    if (t.IsEmpty()) return false;
    bool hex = t.StartsWithNoCase(u"0x");
    int start = hex ? 2 : 0;
    bool negative = !hex && t[0] == u'-';
    if (negative) start = 1;
    if (!hex)
        for (int i = start; i < t.Length(); ++i)
            if (HexDigitValue(t[i]) >= 10) hex = true;  // letters: hexadecimal without a prefix
    if (negative && hex) return false;
    if (start == t.Length()) return false;
    uint64_t value = 0;
    for (int i = start; i < t.Length(); ++i) {
        int digit = HexDigitValue(t[i]);
        if (digit < 0 || (!hex && digit > 9)) return false;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return false;
    }
    if (negative) {
        if (value > 0x80000000ull) return false;
        value = (0x100000000ull - value) & 0xFFFFFFFFull;
    }
    *code = static_cast<uint32_t>(value);
    return true;
}

const CodeExplanation* ExplainCode(uint32_t code) {
    for (int i = 0; i < kCodeExplanationCount; ++i)
        if (kCodeExplanations[i].code == code) return &kCodeExplanations[i];
    return nullptr;
}

namespace {

// References stay as written: the explanation needs the records only.
class AsWritten : public ReferenceResolver {
public:
    bool FolderProperty(const WString&, bool, WString*) override { return false; }
    WString EnvironmentVariable(const WString& name) override { return u"%" + name + u"%"; }
    WString RegistryValue(const WString& path, bool) override { return u"!" + path + u"!"; }
};

std::string CodeForms(uint32_t code) {
    char hex[16];
    snprintf(hex, sizeof(hex), "0x%08X", code);
    std::string forms = std::to_string(static_cast<int32_t>(code)) + " = " + hex;
    if (static_cast<int32_t>(code) < 0) forms += " = " + std::to_string(code);
    return forms;
}

const char* ExitCodeMeaning(uint32_t code) {
    switch (code) {
        case 0: return "nothing to do, or everything went through (also a run that only evaluates)";
        case 1: return "a mandatory prerequisite is still missing (or the installer mutex could not be waited on)";
        case 0xFFFFFFFFu:
            return "a reboot is pending: a setup's restart was started or declined, a return code meant reboot or "
                   "rebooting, or Windows is shutting down; HKCU\\InterbootContext keeps the setups' return codes";
    }
    return nullptr;
}

// What the run does after a setup's code had this meaning.
std::string MeaningEffect(CodeMeaning meaning, const Prerequisite& p) {
    const RebootMode reboot = RebootModeFromOptions(p.Options);
    const bool mandatory = p.HasOption(u'm');
    switch (meaning) {
        case CodeMeaning::kSuccess:
            return std::string("the setup went through") +
                   (reboot != RebootMode::kNone ? "; its r option restarts the machine right after it" : "");
        case CodeMeaning::kReboot:
            return std::string("the setup went through and needs a restart later: the chain goes on, and the run ends "
                               "with -1 and keeps the interboot context") +
                   (reboot != RebootMode::kNone ? "; its r option restarts the machine once the chain has ended" : "");
        case CodeMeaning::kRebooting:
            return "the setup went through and has started a restart itself: nothing more is launched, the run ends "
                   "with -1 and starts no restart of its own";
        case CodeMeaning::kRetry:
            return "the setup could not run now: it is started again after " + std::to_string(kRetryPauseMs / 1000) +
                   " s, at most " + std::to_string(kRetryLaunches) + " more times, then counts as a failure";
        case CodeMeaning::kFailure:
            return mandatory ? "the setup failed, and as the prerequisite is mandatory (m) the install phase stops there: "
                               "the setups after it are not started and the run ends with 1"
                             : "the setup failed: the run goes on with the next setup, and as the prerequisite is "
                               "optional the exit code does not count it";
    }
    return std::string();
}

}  // namespace

std::string ExplainCodeText(uint32_t code, const uint8_t* package, size_t packageSize, bool withPackage, bool* known) {
    std::string out;
    const CodeExplanation* entry = ExplainCode(code);
    const char* exit = ExitCodeMeaning(code);
    *known = entry || exit;
    out += CodeForms(code) + ": ";
    if (entry) {
        out += Utf8(WString(entry->name)) + ": " + Utf8(WString(entry->meaning)) + "\n";
        if (exit) out += "  as the chainer's exit code: " + std::string(exit) + "\n";
    } else if (exit) {
        out += "the chainer's exit code: " + std::string(exit) + "\n";
    } else {
        out += "no result code of the chainer's own; a Windows or WinINet error code is shown with the system's text\n";
    }
    if (!withPackage) {
        out += std::string("  as a setup's return code: ") +
               (code == 0 ? "success, unless the prerequisite's ReturnCodes says otherwise"
                          : "the chainer counts it as a failure unless the prerequisite's ReturnCodes lists it") +
               (code == 3010 ? " (ReturnCodes=3010:reboot: the chain goes on and the run ends with -1)"
                : code == 1641 ? " (ReturnCodes=1641:rebooting: nothing more is launched, the run ends with -1)"
                : code == 1618 ? " (ReturnCodes=1618:retry: the setup is started again after a pause)"
                               : "") +
               "; corvane-check --explain CODE setup.ini tells what it does for each prerequisite\n";
        return out;
    }
    IniDocument document;
    document.Parse(ConfigurationTextFromBytes(package, packageSize));
    AsWritten references;
    PrerequisiteList list;
    list.Load(document, references);
    if (list.Count() == 0) out += "  the package has no prerequisite that the chainer loads\n";
    for (int i = 0; i < list.Count(); ++i) {
        const Prerequisite& p = list[i];
        out += "  App" + std::to_string(i + 1) + " '" + Utf8(p.Name) + "': ";
        if (p.LocationKind == kLocationOpenSite) {
            out += "opens a site: no setup runs, no code is returned\n";
            continue;
        }
        const ReturnCodeTable table = ReturnCodeTable::Parse(p.ReturnCodes);
        const CodeMeaning meaning = table.MeaningOf(code);
        out += Utf8(WString(CodeMeaningWord(meaning))) +
               (table.Lists(code) ? " (its ReturnCodes)" : " (not in its ReturnCodes: 0 succeeds, anything else fails)") +
               ": " + MeaningEffect(meaning, p) + "\n";
    }
    return out;
}
