#include "engine/open_site_win.h"

#include <windows.h>
#include <shellapi.h>

#include "config/prerequisite.h"
#include "engine/prerequisite_engine_win.h"
#include "log/log.h"
#include "platform/fileops_win.h"
#include "platform/win_util.h"
#include "download/url_for_log.h"

namespace {

// A new unique file in the temporary folder made by GetTempFileNameW with
// the prefix "URL", moved to the same name with the extension ".url".
WString MakeShortcutName() {
    WString folder = TempFolder();
    WString firstUnique;
    for (int attempt = 0; attempt < 2; ++attempt) {
        WString unique;
        if (!GetTempFileNameW(folder.wc(), L"URL", 0, unique.GetWBuffer(MAX_PATH + 1))) break;
        unique.ReleaseBuffer();
        WString shortcut = unique;
        int dot = shortcut.FindLastChar(u'.');
        if (dot > shortcut.FindLastChar(u'\\')) shortcut = shortcut.Left(dot);
        shortcut.Append(u".url");
        if (MoveFileW(unique.wc(), shortcut.wc())) {
            if (!firstUnique.IsEmpty()) DeleteFileW(firstUnique.wc());
            return shortcut;
        }
        if (firstUnique.IsEmpty()) {
            firstUnique = unique;
        } else {
            DeleteFileW(unique.wc());
        }
    }
    if (!firstUnique.IsEmpty()) DeleteFileW(firstUnique.wc());
    return WString();
}

}  // namespace

void OpenUrlViaShortcut(const WString& url) {
    WString name = MakeShortcutName();
    if (name.IsEmpty()) return;
    UniqueFile file(CreateFileW(name.wc(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    NarrowText text;
    Narrow(u"[InternetShortcut]\r\nURL=" + url + u"\r\n", &text, CP_THREAD_ACP);
    DWORD written = 0;
    BOOL ok = WriteFile(file.Get(), text.data, static_cast<DWORD>(text.length), &written, nullptr);
    file.Reset();
    if (ok) ShellExecuteW(nullptr, L"open", name.wc(), nullptr, nullptr, SW_SHOW);
}

void PrerequisiteEngine::OpenSites(TransferObserver* observer) {
    WString captionFormat;
    if (observer) captionFormat = list_->GetPhaseText(3);
    int count = 0;
    for (int i = 0; i < list_->Count(); ++i)
        if (list_->GetAction(i) == kActionOpenSite) ++count;
    if (observer && count >= 1) observer->SetItemCount(static_cast<uint64_t>(count), 0);
    const bool silent = list_->IsSilentMode();
    for (int i = 0; i < list_->Count(); ++i) {
        if (list_->GetAction(i) != kActionOpenSite) continue;
        const Prerequisite& p = (*list_)[i];
        WString caption = Format(captionFormat.c_str(), p.Name);
        if (observer) {
            if (observer->IsCancelled()) return;
            observer->SetStatusText(caption, kStatusNewItem, 0);
        }
        HWND owner = GetForegroundWindow();
        if (LoggingEnabled) LogLine(u"Launching URL:" + UrlForLog(p.Location));
        OpenUrlViaShortcut(p.Location);
        if (observer && !silent) MessageBoxW(owner, L"", caption.wc(), MB_ICONINFORMATION);
    }
}
