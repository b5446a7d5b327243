// FILE URLs of FileTransfer: a local disk or a network share, copied by
// CopyFileExW into the part file.
#include "download/file_transfer_win.h"

#include <winnetwk.h>

#include "download/file_transfer_internal_win.h"
#include "base/owned.h"
#include "platform/fileops_win.h"
#include "platform/path_rules.h"
#include "platform/system_library_win.h"

namespace {

constexpr DWORD kCopyReportMilliseconds = 200;
constexpr DWORD kCopyBlockSize = 65536;

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

ResultCode FileTransfer::FileSource(const UrlParts& url, uint64_t* bytesHeld, uint64_t* total) {
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
                const DWORD sizeHigh = finder.Found() ? finder.Data().nFileSizeHigh : 0;
                *total = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
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

// The local file is read into the part file like any other source, so the
// same verdict judges its bytes; the observer hears of progress at most
// every 200 ms and at the end.
ResultCode FileTransfer::LocalCopy() {
    UniqueFile source(CreateFileW(AddLongPrefixForStorage(localSourcePath_).wc(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) return Fail(GetLastError());
    uint64_t size = 0;
    if (!SizeOfOpenFile(source.Get(), &size)) return Fail(GetLastError());
    if (observer_) observer_->OnTransferStarted(kStartedStream, size, WString());
    // The copy replaces the part file whole: no validator belongs to it.
    ResultCode result = part_.Prepare(0, observer_);
    if (result) return result == E_DL_CANCELLED ? result : Fail(result);
    HeapBlock block(kCopyBlockSize);
    if (!block) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    DWORD lastReport = GetTickCount();
    uint64_t unreported = 0;
    for (;;) {
        if (Cancelled()) return E_DL_CANCELLED;
        DWORD read = 0;
        if (!ReadFile(source.Get(), block.Get(), kCopyBlockSize, &read, nullptr)) return Fail(GetLastError());
        if (!read) break;
        if (part_.WouldPassExpectedSize(read)) {
            if (LoggingEnabled)
                LogLine(WString(u"Downloaded size differs from the expected size:").AppendUnsigned(expected_.size));
            part_.Discard();
            return E_DL_FILE_REJECTED;
        }
        result = part_.Append(block.Get(), read);
        if (result) return Fail(result);
        unreported += read;
        if (observer_ && GetTickCount() - lastReport >= kCopyReportMilliseconds) {
            observer_->OnProgress(unreported);
            unreported = 0;
            lastReport = GetTickCount();
        }
    }
    if (observer_ && unreported) observer_->OnProgress(unreported);
    return FinishPartFile();
}
