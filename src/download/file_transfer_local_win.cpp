// FILE URLs of FileTransfer: a local disk or a network share, copied by
// CopyFileExW into the part file.
#include "download/file_transfer_win.h"

#include <winnetwk.h>

#include "download/file_transfer_internal_win.h"
#include "platform/fileops_win.h"
#include "platform/system_library_win.h"

namespace {

constexpr DWORD kCopyReportMilliseconds = 200;

ResultCode AddNetworkConnection(const WString& folder, const WString& user, const WString& password) {
    typedef DWORD(APIENTRY * AddConnection)(LPNETRESOURCEW, LPCWSTR, LPCWSTR, DWORD);
    if (!SystemLibrary(L"mpr.dll")) return ERROR_MOD_NOT_FOUND;
    AddConnection add = SystemFunction<AddConnection>(L"mpr.dll", "WNetAddConnection2W");
    if (!add) return ERROR_PROC_NOT_FOUND;
    NETRESOURCEW resource;
    ZeroMemory(&resource, sizeof resource);
    resource.dwType = RESOURCETYPE_DISK;
    resource.lpRemoteName = const_cast<wchar_t*>(folder.wc());
    return add(&resource, password.IsEmpty() ? nullptr : password.wc(), user.wc(), 0);
}

}  // namespace

DWORD CALLBACK LocalCopyProgress(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalTransferred, LARGE_INTEGER, LARGE_INTEGER,
                            DWORD, DWORD reason, HANDLE, HANDLE, LPVOID data) {
    LocalCopyContext* copy = static_cast<LocalCopyContext*>(data);
    if (reason == CALLBACK_STREAM_SWITCH) {
        copy->running = 0;
        copy->reported = 0;
        copy->lastReportTick = 0;
        copy->lastTransferred = 0;
        copy->total = static_cast<uint32_t>(totalFileSize.QuadPart);
        if (copy->observer) copy->observer->OnTransferStarted(kStartedStream, copy->total, WString());
    }
    if (copy->observer && copy->observer->IsCancelled()) return PROGRESS_CANCEL;
    uint64_t transferred = static_cast<uint64_t>(totalTransferred.QuadPart);
    if (transferred > copy->lastTransferred) {
        copy->running += static_cast<uint32_t>(transferred - copy->lastTransferred);
        copy->lastTransferred = transferred;
    }
    DWORD now = GetTickCount();
    if (now - copy->lastReportTick >= kCopyReportMilliseconds || copy->running >= copy->total) {
        if (copy->observer && copy->running != copy->reported) copy->observer->OnProgress(copy->running - copy->reported);
        copy->lastReportTick = now;
        copy->reported = copy->running;
    }
    return PROGRESS_CONTINUE;
}

ResultCode FileTransfer::FileSource(const UrlParts& url, uint32_t* bytesHeld, uint32_t* total) {
    sourceKind_ = kSourceLocalFile;
    localSourcePath_ = url.path;
    int slash = url.path.FindLastChar(u'\\');
    WString folder = slash < 0 ? WString() : url.path.Left(slash);
    WString user = url.user;
    WString password = url.password;
    for (;;) {
        ResultCode result = user.IsEmpty() ? kResultOk : AddNetworkConnection(folder, user, password);
        if (!result) {
            DWORD sizeLow = 0;
            result = GetFileInformation(url.path, nullptr, &sizeLow);
            if (!result) {
                FileFinder finder(url.path);
                if (finder.Found() && finder.Data().nFileSizeHigh) return E_DL_FILE_TOO_LARGE;
                *total = sizeLow;
                *bytesHeld = 0;
                return 0;
            }
        }
        if ((result == ERROR_INVALID_PASSWORD || result == ERROR_LOGON_FAILURE || result == ERROR_BAD_USERNAME) &&
            AskForCredentials(u"Local Network Server")) {
            user = credentials_->userName;
            password = credentials_->password;
            continue;
        }
        return result;
    }
}

ResultCode FileTransfer::LocalCopy() {
    const ResultCode result = CreateDirectoryTree(partPath_, false);
    if (result) return Fail(result);
    // The copy replaces the part file whole: no validator belongs to it.
    DropPartValidator();
    LocalCopyContext copy = {observer_, 0, 0, 0, 0, 0};
    if (!CopyFileExW(localSourcePath_.wc(), partPath_.wc(), &LocalCopyProgress, &copy, nullptr, 0))
        return Fail(GetLastError());
    return PutPartFileInPlace();
}
