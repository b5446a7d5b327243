#include "install/command_line.h"

#include "config/prerequisite.h"
#include "platform/path_rules.h"

namespace {

// PowerShell treats the typographic single quotes like the ASCII one.
bool IsPowerShellSingleQuote(char16_t unit) {
    return unit == u'\'' || unit == 0x2018 || unit == 0x2019 || unit == 0x201A || unit == 0x201B;
}

WString SingleQuoted(const WString& text) {
    WString quoted;
    quoted.Append(u'\'');
    for (int i = 0; i < text.Length(); ++i) {
        char16_t unit = text[i];
        if (IsPowerShellSingleQuote(unit)) quoted.Append(unit);
        quoted.Append(unit);
    }
    quoted.Append(u'\'');
    return quoted;
}

}  // namespace

WString FolderOfFile(const WString& path) {
    WString plain = RemoveLongPrefix(path);
    int slash = plain.FindLastChar(u'\\');
    return slash < 0 ? WString() : plain.Left(slash);
}

bool HasMsiExtension(const WString& path) {
    int dot = path.FindLastChar(u'.');
    if (dot < 0 || dot < path.FindLastChar(u'\\')) return false;
    return path.Mid(dot).EqualsNoCase(u".msi");
}

WString DirectLaunchArguments(const WString& resolvedCommandLine) {
    if (resolvedCommandLine.IsEmpty() || resolvedCommandLine[0] == u' ') return resolvedCommandLine;
    return WString(u" ") + resolvedCommandLine;
}

WString MsiexecCommandLine(const WString& packagePath, const WString& arguments) {
    return Format(u" /i \"%s\"", RemoveLongPrefix(packagePath)) + DirectLaunchArguments(arguments);
}

WString ProgramCommandLine(const WString& programPath, const WString& arguments) {
    return Format(u"\"%s\" ", programPath) + DirectLaunchArguments(arguments);
}

namespace {

// The extension of a file name, dot included; empty when it has none.
WString ExtensionOf(const WString& path) {
    const int dot = path.FindLastChar(u'.');
    if (dot < 0 || dot < path.FindLastChar(u'\\')) return WString();
    return path.Mid(dot);
}

}  // namespace

RebootMode RebootModeFromOptions(const WString& options) {
    if (!options.Contains(u'r')) return RebootMode::kNone;
    return options.Contains(u'R') ? RebootMode::kIfPresentAfterSuccess : RebootMode::kAfterSuccess;
}

const WString& ChooseCommandLine(const WString& generalOptions, const Prerequisite& prerequisite) {
    return generalOptions.Contains(u'b') ? prerequisite.BasicUiCommandLine : prerequisite.NoUiCommandLine;
}

LaunchMethod ChooseLaunchMethod(const WString& file, bool elevated) {
    if (!elevated) return LaunchMethod::Shell;
    const WString extension = ExtensionOf(file);
    if (extension.EqualsNoCase(u".exe") || extension.EqualsNoCase(u".com")) return LaunchMethod::Direct;
    if (extension.EqualsNoCase(u".msi") || extension.EqualsNoCase(u".msp")) return LaunchMethod::Msiexec;
    if (extension.EqualsNoCase(u".msu")) return LaunchMethod::Wusa;
    if (extension.EqualsNoCase(u".bat") || extension.EqualsNoCase(u".cmd")) return LaunchMethod::Cmd;
    return LaunchMethod::Refused;
}

DirectLaunch ComposeDirectLaunch(LaunchMethod method, const WString& systemFolder, const WString& file,
                                 const WString& arguments) {
    DirectLaunch launch;
    const WString plain = RemoveLongPrefix(file);
    switch (method) {
        case LaunchMethod::Direct:
            launch.program = file;
            launch.commandLine = ProgramCommandLine(plain, arguments);
            break;
        case LaunchMethod::Msiexec:
            launch.program = systemFolder + u"msiexec.exe";
            launch.commandLine = ExtensionOf(file).EqualsNoCase(u".msp")
                                     ? Format(u" /p \"%s\"", plain) + DirectLaunchArguments(arguments)
                                     : MsiexecCommandLine(file, arguments);
            break;
        case LaunchMethod::Wusa:
            launch.program = systemFolder + u"wusa.exe";
            launch.commandLine = Format(u"\"%s\" \"%s\"", launch.program, plain) + DirectLaunchArguments(arguments);
            break;
        case LaunchMethod::Cmd:
            // /s: the text after /c loses only its outer quotes, so the
            // quoted script path and its arguments reach cmd as written.
            launch.program = systemFolder + u"cmd.exe";
            launch.commandLine = Format(u"\"%s\" /d /s /c \"\"%s\"", launch.program, plain) +
                                 DirectLaunchArguments(arguments) + u"\"";
            break;
        case LaunchMethod::Shell:
        case LaunchMethod::Refused:
            break;
    }
    return launch;
}

bool ComposeHandlerLaunch(const WString& handlerCommand, const WString& target, DirectLaunch* launch) {
    const WString command = handlerCommand.Trimmed();
    WString program;
    if (command.StartsWith(u"\"")) {
        const int close = command.FindChar(u'"', 1);
        if (close < 0) return false;
        program = command.Substr(1, close - 1);
    } else {
        for (int end = 4; end <= command.Length() && program.IsEmpty(); ++end) {
            if (command.Substr(end - 4, 4).EqualsNoCase(u".exe") && (end == command.Length() || command[end] == u' '))
                program = command.Left(end);
        }
    }
    if (program.IsEmpty()) return false;
    // Percent forms are matched case-insensitively for L only, as the shell does.
    WString line;
    bool placed = false;
    for (int i = 0; i < command.Length(); ++i) {
        const char16_t unit = command[i];
        if (unit == u'%' && i + 1 < command.Length() &&
            (command[i + 1] == u'1' || command[i + 1] == u'L' || command[i + 1] == u'l')) {
            line.Append(target);
            placed = true;
            ++i;
            continue;
        }
        line.Append(unit);
    }
    if (!placed) line.Append(u" \"" + target + u"\"");
    launch->program = program;
    launch->commandLine = line;
    return true;
}

WString UrlScheme(const WString& url) {
    const int colon = url.FindChar(u':');
    if (colon < 1) return WString();
    for (int i = 0; i < colon; ++i) {
        const char16_t unit = url[i];
        const bool letter = (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
        const bool other = (unit >= u'0' && unit <= u'9') || unit == u'+' || unit == u'-' || unit == u'.';
        if (!letter && (i == 0 || !other)) return WString();
    }
    return url.Left(colon);
}

WString QuoteCleanupPaths(const Array<WString>& paths) {
    WString joined;
    for (int i = 0; i < paths.Size(); ++i) {
        if (i > 0) joined.Append(u',');
        joined.Append(SingleQuoted(paths[i]));
    }
    return joined;
}

WString CleanupCommandText(const WString& scriptName, const WString& quotedPaths, int32_t retryCount) {
    // Characters legal in user and folder names ($ ` & ( ) { } ; @ and
    // blanks) are code in a bare PowerShell word: the script is always
    // called through the call operator on a single-quoted name.
    WString invocation = WString(u"& ") + SingleQuoted(scriptName);
    return Format(u"%s -paths %s -retry_count %d", invocation, quotedPaths, static_cast<int>(retryCount));
}

WString CleanupScriptParameters(const WString& executionPolicy, const WString& commandText) {
    return Format(u"-NonInteractive -NoLogo -ExecutionPolicy %s -Command \"%s\"", executionPolicy, commandText);
}
