#include "install/command_line.h"

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
