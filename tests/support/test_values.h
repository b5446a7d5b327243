// Values the unit tests of several folders build and print.
#pragma once

#include <stdint.h>

#include <string>

#include "base/wstr.h"
#include "platform/os_info.h"

// A wide string for test messages: ASCII as it is, anything else as '?'.
inline std::string Printable(const WString& s) {
    std::string out;
    for (int i = 0; i < s.Length(); ++i) out += static_cast<char>(s[i] < 0x80 ? s[i] : '?');
    return out;
}

// Configuration text with CR LF line ends from lines joined by '|'.
inline WString Ini(const char16_t* text) {
    WString out;
    for (const char16_t* p = text; *p; ++p) {
        if (*p == u'|')
            out.Append(u"\r\n");
        else
            out.Append(*p);
    }
    return out;
}

// A running Windows as identification would describe it.
inline OsInfo Os(uint32_t major, uint32_t minor, uint32_t build, uint32_t sp, bool server, bool x64) {
    OsInfo info;
    info.MajorVersion = major;
    info.MinorVersion = minor;
    info.BuildNumber = build;
    info.ServicePackMajor = sp;
    info.IsServer = server;
    info.ProductType = server ? 3 : 1;
    info.Is64BitOs = x64;
    return info;
}
