#include "platform/os_info.h"

namespace {

const char16_t kNotIdentified[] = u"OsNotIdentified";

WString Bitness(const char16_t* name, bool is64) { return WString(name) + (is64 ? u" x64" : u" x86"); }

// Unsigned number of leading decimal digits after leading blanks.
uint32_t LeadingUnsigned(const WString& text) {
    int i = 0;
    while (i < text.Length() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    uint32_t value = 0;
    for (; i < text.Length() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = value * 10u + static_cast<uint32_t>(text[i] - u'0');
    return value;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

struct SuiteBit {
    const char16_t* name;
    uint16_t bit;
};

const SuiteBit kSuiteBits[] = {
    {u"Small Business", 0x0001},
    {u"Enterprise", 0x0002},
    {u"BackOffice", 0x0004},
    {u"CommunicationServer", 0x0008},
    {u"Terminal Server", 0x0010},
    {u"Small Business(Restricted)", 0x0020},
    {u"EmbeddedNT", 0x0040},
    {u"DataCenter", 0x0080},
    {u"Personal", 0x0200},
    {u"Blade", 0x0400},
    {u"Embedded(Restricted)", 0x0800},
    {u"Security Appliance", 0x1000},
    {u"Storage Server", 0x2000},
    {u"Compute Server", 0x4000},
};

WString Windows10DetailedName(const OsInfo& info, bool server64) {
    const bool x64 = info.Is64BitOs;
    switch (info.BuildNumber) {
        case 10240: return Bitness(u"Windows 10 version 1507", x64);
        case 10586: return Bitness(u"Windows 10 version 1511", x64);
        case 14393:
            if (server64) return u"Windows Server 2016 x64";
            return Bitness(u"Windows 10 version 1607", x64);
        case 15063: return Bitness(u"Windows 10 version 1703", x64);
        case 16299: return Bitness(u"Windows 10 version 1709", x64);
        case 17134: return Bitness(u"Windows 10 version 1803", x64);
        case 17763:
            if (server64) return u"Windows Server 2019 x64";
            return Bitness(u"Windows 10 version 1809", x64);
        case 18362: return Bitness(u"Windows 10 version 1903", x64);
        case 18363: return Bitness(u"Windows 10 version 1909", x64);
        case 19041: return Bitness(u"Windows 10 version 2004", x64);
        case 19042: return Bitness(u"Windows 10 version 20H2", x64);
        case 19043: return Bitness(u"Windows 10 version 21H1", x64);
        case 20348:
            if (server64) return u"Windows Server 2022 x64";
            return Bitness(u"Windows 10 version 21H2", x64);
        case 19044: return Bitness(u"Windows 10 version 21H2", x64);
        default:
            if (server64) return u"Windows Server x64";
            return Bitness(u"Windows 10", x64);
    }
}

}  // namespace

void BuildOsInfo(const OsRegistryValues& values, bool is64BitOs, OsInfo* info) {
    *info = OsInfo();
    if (values.haveMajorNumber) info->MajorVersion = values.majorNumber;
    if (values.haveMinorNumber) info->MinorVersion = values.minorNumber;
    if (info->MajorVersion == 0 && values.haveCurrentVersion) {
        // Older systems only carry the text form, as in 6.1.
        const WString& v = values.currentVersion;
        if (v.Length() == 3 && IsDigit(v[0]) && IsDigit(v[2])) {
            info->MajorVersion = static_cast<uint32_t>(v[0] - u'0');
            info->MinorVersion = static_cast<uint32_t>(v[2] - u'0');
        }
    }
    if (values.haveBuildNumber) info->BuildNumber = LeadingUnsigned(values.buildNumber);
    // Windows 11 still reports major version 10; its build branch tells it apart.
    if (info->MajorVersion == 10 && info->BuildNumber >= 22000 && values.haveBuildBranch &&
        (values.buildBranch.EqualsNoCase(u"co_release") || values.buildBranch.EqualsNoCase(u"rs_prerelease")))
        info->MajorVersion = 11;
    if (values.haveReleaseId) info->ReleaseId = LeadingUnsigned(values.releaseId);
    if (values.haveCsdVersion) {
        const int capacity = static_cast<int>(sizeof(info->ServicePackText) / sizeof(info->ServicePackText[0]));
        int n = values.csdVersion.Length();
        if (n > capacity - 1) n = capacity - 1;
        for (int i = 0; i < n; ++i) info->ServicePackText[i] = values.csdVersion[i];
        info->ServicePackText[n] = 0;
        char16_t last = values.csdVersion.Last();
        if (IsDigit(last)) info->ServicePackMajor = static_cast<uint32_t>(last - u'0');
    }
    info->Is64BitOs = is64BitOs;
    if (values.haveProductType) {
        if (values.productType == u"WinNT") {
            info->ProductType = 1;
            info->IsServer = false;
        } else if (values.productType == u"ServerNT") {
            info->ProductType = 3;
            info->IsServer = true;
        } else {
            info->ProductType = 2;
            info->IsServer = true;
        }
    }
    if (values.haveProductSuite) {
        const WString& all = values.productSuite;
        int start = 0;
        while (start < all.Length()) {
            int end = all.FindChar(0, start);
            if (end < 0) end = all.Length();
            WString suite = all.Substr(start, end - start);
            for (const SuiteBit& entry : kSuiteBits)
                if (suite == entry.name) info->SuiteMask = static_cast<uint16_t>(info->SuiteMask | entry.bit);
            start = end + 1;
        }
    }
}

WString OsDetailedNameOf(const OsInfo& info) {
    const bool x64 = info.Is64BitOs;
    const bool server64 = info.IsServer && info.Is64BitOs;
    const uint32_t sp = info.ServicePackMajor;
    const uint32_t major = info.MajorVersion, minor = info.MinorVersion;
    if (major == 11 && minor == 0) {
        if (info.BuildNumber == 22000) return Bitness(u"Windows 11 version 21H2", x64);
        if (server64) return u"Windows Server x64";
        return Bitness(u"Windows 11", x64);
    }
    if (major == 10 && minor == 0) return Windows10DetailedName(info, server64);
    if (major == 6 && minor == 3) return server64 ? WString(u"Windows Server 2012 R2 x64") : Bitness(u"Windows 8.1", x64);
    if (major == 6 && minor == 2) return server64 ? WString(u"Windows Server 2012 x64") : Bitness(u"Windows 8", x64);
    if (major == 6 && minor == 1) {
        if (server64) {
            if (sp == 0) return u"Windows Server 2008 R2 RTM x64";
            if (sp == 1) return u"Windows Server 2008 R2 SP1 x64";
            return u"Windows Server 2008 R2 x64";
        }
        if (sp == 0) return Bitness(u"Windows 7 RTM", x64);
        if (sp == 1) return Bitness(u"Windows 7 SP1", x64);
        return Bitness(u"Windows 7", x64);
    }
    if (major == 6 && minor == 0) {
        if (info.IsServer) {
            if (sp == 0 || sp == 1) return Bitness(u"Windows Server 2008 RTM", x64);
            if (sp == 2) return Bitness(u"Windows Server 2008 SP2", x64);
            return Bitness(u"Windows Server 2008", x64);
        }
        if (sp == 0) return Bitness(u"Windows Vista RTM", x64);
        if (sp == 1) return Bitness(u"Windows Vista SP1", x64);
        if (sp == 2) return Bitness(u"Windows Vista SP2", x64);
        return Bitness(u"Windows Vista", x64);
    }
    if (major == 5 && minor == 2) {
        if (info.IsServer) {
            if (sp == 1) return Bitness(u"Windows Server 2003 SP1", x64);
            if (sp == 2) return Bitness(u"Windows Server 2003 SP2", x64);
            return Bitness(u"Windows Server 2003", x64);
        }
        if (sp == 1) return u"Windows XP SP1 x64";
        if (sp == 2) return u"Windows XP SP2 x64";
        return u"Windows XP x64";
    }
    if (major == 5 && minor == 1) {
        if (sp == 1) return u"Windows XP SP1 x86";
        if (sp == 2) return u"Windows XP SP2 x86";
        if (sp == 3) return u"Windows XP SP3 x86";
        return u"Windows XP x86";
    }
    return kNotIdentified;
}

WString OsGenericNameOf(const OsInfo& info) {
    const bool x64 = info.Is64BitOs;
    const bool server64 = info.IsServer && info.Is64BitOs;
    const uint32_t major = info.MajorVersion, minor = info.MinorVersion;
    if (major == 11 && minor == 0) return server64 ? WString(u"Windows Server x64") : Bitness(u"Windows 11", x64);
    if (major == 10 && minor == 0) return server64 ? WString(u"Windows Server x64") : Bitness(u"Windows 10", x64);
    if (major == 6 && minor == 3) return server64 ? WString(u"Windows Server 2012 R2 x64") : Bitness(u"Windows 8.1", x64);
    if (major == 6 && minor == 2) return server64 ? WString(u"Windows Server 2012 x64") : Bitness(u"Windows 8", x64);
    if (major == 6 && minor == 1) return server64 ? WString(u"Windows Server 2008 R2 x64") : Bitness(u"Windows 7", x64);
    if (major == 6 && minor == 0) return Bitness(info.IsServer ? u"Windows Server 2008" : u"Windows Vista", x64);
    if (major == 5 && minor == 2) return info.IsServer ? Bitness(u"Windows Server 2003", x64) : WString(u"Windows XP x64");
    if (major == 5 && minor == 1) return u"Windows XP x86";
    return kNotIdentified;
}
