#include "config/ini_path.h"

WString ExecutableFolder(const WString& executablePath) {
    int slash = executablePath.FindLastChar(u'\\');
    return slash < 0 ? WString() : executablePath.Left(slash);
}

WString IniPathForExecutable(const WString& executablePath) {
    WString path = ExecutableFolder(executablePath);
    if (!path.EndsWith(u"\\")) path.Append(u'\\');
    WString base = executablePath.Mid(executablePath.FindLastChar(u'\\') + 1);
    int dot = base.FindLastChar(u'.');
    if (dot >= 0) base = base.Left(dot);
    path.Append(base);
    path.Append(u".ini");
    return path;
}

WString ConfigurationTextFromBytes(const uint8_t* bytes, size_t size) {
    if (size <= 2 || !bytes) return WString();
    size_t units = (size - 2) / 2;
    if (units > 0x3FFFFFF0u) units = 0x3FFFFFF0u;
    WString text;
    char16_t* out = text.GetBuffer(static_cast<int>(units));
    for (size_t i = 0; i < units; ++i)
        out[i] = static_cast<char16_t>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
    text.ReleaseBuffer(static_cast<int>(units));
    return text;
}
