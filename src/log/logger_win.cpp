#include "log/logger_win.h"

#include <cpuid.h>
#include <string.h>

#include "base/grow_retry.h"
#include "log/log.h"
#include "platform/fileops_win.h"
#include "platform/held_folder_win.h"
#include "platform/os_info.h"
#include "platform/path_rules.h"
#include "platform/references_win.h"
#include "platform/system_library_win.h"
#include "platform/win_util.h"

namespace {

const char16_t kLogFolderName[] = u"CORVANE_LOGS";
const char16_t kEndOfLog[] = u"=====================End of Log=====================\r\n";

void DebugText(const WString& text) { OutputDebugStringW(text.wc()); }

bool IsFolder(const WString& path) {
    DWORD attributes = GetFileAttributesW(path.wc());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The all-users application-data folder + "CORVANE_LOGS", created on first
// use so that every account may write to it.
WString SharedLogFolder() {
    WString common;
    if (!ResolveFolderProperty(u"CommonAppDataFolder", false, &common)) return WString();
    WString folder = common + kLogFolderName;
    if (IsFolder(folder)) return folder;

    AccessListBuilder access;
    PSECURITY_DESCRIPTOR descriptor = SharedLogFolderDescriptor(&access);
    if (!descriptor) return WString();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    if (!CreateDirectoryW(folder.wc(), &attributes)) {
        // Another process may have created it in the meantime.
        if (GetLastError() != ERROR_ALREADY_EXISTS || !IsFolder(folder)) return WString();
    }
    return folder;
}

WString TempLogFolder() {
    WString temp = TempFolder();
    if (temp.IsEmpty()) return WString();
    WString folder = temp + kLogFolderName;
    if (!CreateDirectoryW(folder.wc(), nullptr) && !IsFolder(folder)) return WString();
    return folder;
}

// The log's path in one of the chainer's own log folders, or empty when the
// folder is itself a link or junction. The folder stays open in hold, without
// delete sharing, so it cannot be renamed or replaced by a junction before
// the file is created in it.
WString PathInLogFolder(const WString& folder, const WString& name, UniqueFile* hold) {
    if (folder.IsEmpty()) return WString();
    *hold = OpenFolderToHold(folder);
    if (hold->Valid() && IsPlainEntry(hold->Get(), folder, true)) return folder + u"\\" + name;
    DebugText(u"LOGGER->refused a linked LOG folder at:" + folder);
    hold->Reset();
    return WString();
}

// True when the open file lies directly in the open folder, by the paths the
// system resolves both handles to: nothing swapped between the folder's
// check and the file's creation sent the file elsewhere. True where the
// system cannot tell (Windows XP), whose checks are those of IsPlainEntry.
bool LiesInFolder(HANDLE file, HANDLE folder) {
    WString filePath, folderPath;
    if (!FinalPathOf(file, &filePath) || !FinalPathOf(folder, &folderPath)) return false;
    if (filePath.IsEmpty() && folderPath.IsEmpty()) return true;
    const int slash = filePath.FindLastChar(u'\\');
    if (slash <= 0) return false;
    WString parent = filePath.Left(slash);
    while (folderPath.Length() > 3 && folderPath.Last() == u'\\') folderPath = folderPath.Left(folderPath.Length() - 1);
    return parent.EqualsNoCase(folderPath);
}

WString TimeStamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return Format(u"%04d-%02d-%02d %02d-%02d-%02d", static_cast<int>(now.wYear), static_cast<int>(now.wMonth),
                  static_cast<int>(now.wDay), static_cast<int>(now.wHour), static_cast<int>(now.wMinute),
                  static_cast<int>(now.wSecond));
}

}  // namespace

WString LogFileNameFor(const WString& executablePath) {
    WString name = executablePath.Mid(executablePath.FindLastChar(u'\\') + 1);
    int dot = name.FindLastChar(u'.');
    if (dot < 0) return name + u".LOG";
    return name.Left(dot + 1) + u"LOG";
}

WString ProcessorBrandTextFrom(unsigned int highestExtendedLeaf, const unsigned int registers[12]) {
    if (highestExtendedLeaf < 0x80000004u) return u"UnkownCPU";
    char brand[49];
    memcpy(brand, registers, 48);
    brand[48] = 0;
    return Widen(brand);
}

WString ProcessorBrandText() {
    unsigned int registers[12] = {0};
    unsigned int highest = __get_cpuid_max(0x80000000u, nullptr);
    if (highest >= 0x80000004u) {
        for (unsigned int leaf = 0; leaf < 3; ++leaf)
            __cpuid(0x80000002u + leaf, registers[leaf * 4], registers[leaf * 4 + 1], registers[leaf * 4 + 2],
                     registers[leaf * 4 + 3]);
    }
    return ProcessorBrandTextFrom(highest, registers);
}

PSECURITY_DESCRIPTOR SharedLogFolderDescriptor(AccessListBuilder* access) {
    // The well-known SID of Everyone does not depend on the system language.
    if (!access->GrantAccess(u"S-1-1-0", true) && !access->GrantAccess(u"Everyone", false)) return nullptr;
    return access->BuildSecurityDescriptor();
}

Logger::Logger() : header_(u"\r\n<< Corvane (x86) Log >>\r\n") {}

Logger::~Logger() {
    file_.Reset();
    lock_.Destroy();
}

void Logger::Lock() { lock_.Enter(); }

void Logger::Unlock() { lock_.Leave(); }

void Logger::SetLogFile(const WString& path) {
    Lock();
    DebugText(Format(u"Logger::SetLogFile( %s ) while OLD path is:%s", path, path_));
    // A log that is already open keeps its file.
    if (!file_.Valid() && !closed_) path_ = path;
    Unlock();
}

WString Logger::Path() {
    Lock();
    WString path = path_;
    Unlock();
    return path;
}

void Logger::WriteLine(const WString& text) {
    Lock();
    if (!closed_) WriteLineLocked(text);
    Unlock();
}

void Logger::Close() {
    Lock();
    if (!closed_) {
        if (LoggingEnabled) WriteLineLocked(kEndOfLog);
        file_.Reset();
        closed_ = true;
    }
    Unlock();
}

void Logger::WriteLineLocked(const WString& text) {
    if (!file_.Valid() && !Open()) return;  // the line is lost
    WriteText(TimeStamp());
    WriteText(u"-");
    WriteText(text);
    WriteText(u"\r\n");
}

void Logger::WriteRaw(const void* data, DWORD bytes) {
    if (!file_.Valid() || bytes == 0) return;
    DWORD written = 0;
    WriteFile(file_.Get(), data, bytes, &written, nullptr);
    FlushFileBuffers(file_.Get());
}

void Logger::WriteText(const WString& text) {
    WriteRaw(text.c_str(), static_cast<DWORD>(text.Length()) * sizeof(char16_t));
}

WString Logger::FallbackPath(int attempt, UniqueFile* folderHold) {
    WString executable = ModuleFileName();
    if (executable.IsEmpty()) return WString();
    switch (attempt) {
        case 0:
            return PathInLogFolder(SharedLogFolder(), LogFileNameFor(executable), folderHold);
        case 1:
            return executable.Left(executable.FindLastChar(u'\\') + 1) + LogFileNameFor(executable);
        case 2:
            return PathInLogFolder(TempLogFolder(), LogFileNameFor(executable), folderHold);
        default:
            return WString();
    }
}

bool Logger::Open() {
    int attempt = 0;
    for (;;) {
        UniqueFile folderHold;  // a fallback folder, held until its file is open
        if (path_.IsEmpty()) {
            if (attempt > 2) return false;
            path_ = FallbackPath(attempt++, &folderHold);
            if (path_.IsEmpty()) continue;
        }
        // A link in the log's place is opened as itself, never followed.
        UniqueFile file(CreateFileW(path_.wc(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
        if (!file.Valid()) {
            DebugText(u"LOGGER->failed to create LOG at:" + path_);
            path_.Clear();
            continue;
        }
        const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        if (!IsPlainEntry(file.Get(), path_, false) || (folderHold.Valid() && !LiesInFolder(file.Get(), folderHold.Get()))) {
            DebugText(u"LOGGER->refused a linked LOG at:" + path_);
            path_.Clear();
            continue;
        }
        file_ = static_cast<UniqueFile&&>(file);
        LARGE_INTEGER size;
        size.QuadPart = 0;
        if (existed) {
            DebugText(u"LOGGER->Reusing LOG file at:" + path_ + u"\r\n");
            SetFilePointer(file_.Get(), 0, nullptr, FILE_END);
            GetFileSizeEx(file_.Get(), &size);
        } else {
            DebugText(u"LOGGER->Creating LOG file at:" + path_ + u"\r\n");
        }
        // A new file, or one left empty, starts with the byte-order mark.
        if (!existed || size.QuadPart == 0) {
            const unsigned char mark[2] = {0xFF, 0xFE};
            WriteRaw(mark, sizeof(mark));
        }
        const OsInfo& os = GetOsInfo();
        WriteText(header_);
        WriteText(Format(u"OS Version: %u.%u.%u SP%u (%s) [%s]\r\n", os.MajorVersion, os.MinorVersion,
                         os.BuildNumber, os.ServicePackMajor,
                         WString(os.IsServer ? u"server" : u"workstation"), WString(os.Is64BitOs ? u"x64" : u"x86")));
        WriteText(u"CPU: " + ProcessorBrandText() + u"\r\n");
        WriteText(u"\r\n");
        return true;
    }
}

namespace {
Logger g_logger;
}  // namespace

Logger& TheLogger() { return g_logger; }

void LogLine(const WString& text) { TheLogger().WriteLine(text); }
