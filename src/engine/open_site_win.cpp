#include "engine/open_site_win.h"

#include <windows.h>
#include <shellapi.h>

#include "config/prerequisite.h"
#include "install/command_line.h"
#include "engine/prerequisite_engine_win.h"
#include "log/log.h"
#include "platform/fileops_win.h"
#include "platform/process_runner_win.h"
#include "platform/win_util.h"
#include "download/url_for_log.h"

namespace {

// How long the program that opens a shortcut is given to read it: until its
// first input idle or its end, never longer than this.
constexpr DWORD kShortcutReadMs = 10000;

void WaitUntilRead(HANDLE process) {
    const DWORD started = GetTickCount();
    // A program without a window (or one that has ended) answers at once.
    if (WaitForInputIdle(process, kShortcutReadMs) == 0) return;
    const DWORD spent = GetTickCount() - started;
    if (spent < kShortcutReadMs) WaitForSingleObject(process, kShortcutReadMs - spent);
}

// An elevated run opens a site with the rights of the user's desktop shell
// (unelevated) where it can, else with the handler the machine registers
// for the URL's scheme, started directly; never with a handler that the
// user's own classes could name. False when neither is there.
bool OpenSiteElevated(const WString& url) {
    if (OpenThroughDesktopShell(url)) {
        if (LoggingEnabled) LogLine(u"Web site opened through the desktop's shell:" + UrlForLog(url));
        return true;
    }
    const WString scheme = UrlScheme(url);
    DirectLaunch launch;
    if (scheme.IsEmpty() || !ComposeHandlerLaunch(MachineUrlHandler(scheme), url, &launch)) {
        if (LoggingEnabled) LogLine(u"Web site not opened, no handler the user cannot change:" + UrlForLog(url));
        return false;
    }
    UniqueHandle process = StartProcess(launch.program, launch.commandLine, WString(), SW_SHOWNORMAL);
    if (LoggingEnabled) {
        if (process)
            LogLine(u"Web site opened with the machine's handler:" + UrlForLog(url));
        else
            LogLine(u"Web site not opened. Error:" + SystemMessageText(GetLastError()));
    }
    return process.Valid();
}

}  // namespace

WString OpenUrlViaShortcut(const WString& url, const WString& folder) {
    if (folder.IsEmpty()) return WString();
    WString name;
    UniqueFile file = CreateFreshFile(folder, u"URL", u".url", &name);
    if (!file) return WString();
    NarrowText text;
    Narrow(u"[InternetShortcut]\r\nURL=" + url + u"\r\n", &text, CP_THREAD_ACP);
    DWORD written = 0;
    const BOOL ok = WriteFile(file.Get(), text.data, static_cast<DWORD>(text.length), &written, nullptr);
    file.Reset();
    if (!ok) return name;
    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    // The shell finishes its DDE conversation before it returns, and hands
    // back the program it started so that its reading can be waited for.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
    info.lpVerb = L"open";
    info.lpFile = name.wc();
    info.nShow = SW_SHOW;
    if (ShellExecuteExW(&info) && info.hProcess) {
        UniqueHandle process(info.hProcess);
        WaitUntilRead(process.Get());
    }
    return name;
}

void PrerequisiteEngine::OpenSites(TransferObserver* observer) {
    sitesRan_ = true;
    Replan();
    WString captionFormat;
    if (observer) captionFormat = list_->GetPhaseText(kPhaseOpeningSite);
    int count = 0;
    for (const PlannedItem& item : plan_.items) count += item.opensSite;
    if (observer && count >= 1) observer->SetItemCount(static_cast<uint64_t>(count), 0);
    const bool silent = plan_.mode == RunMode::kSilent;
    for (int i = 0; i < plan_.items.Size(); ++i) {
        const PlannedItem& item = plan_.items[i];
        if (!item.opensSite) continue;
        WString caption = Format(captionFormat.c_str(), item.name);
        if (observer) {
            if (observer->IsCancelled()) {
                outcome_.cancelled = true;
                SkipFrom(i, WorkKind::OpenSite);
                return;
            }
            observer->SetStatusText(caption, kStatusNewItem, 0);
        }
        HWND owner = GetForegroundWindow();
        if (LoggingEnabled) LogLine(u"Launching URL:" + UrlForLog(item.site));
        bool opened;
        if (plan_.facts.elevated) {
            opened = OpenSiteElevated(item.site);
        } else {
            // The shortcut lies in the temporary folder until the engine
            // ends: the browser may read it after the shell has returned.
            const WString shortcut = OpenUrlViaShortcut(item.site, TempFolder());
            opened = !shortcut.IsEmpty();
            if (opened) filesToDelete_.Add(shortcut);
        }
        Record(item, WorkKind::OpenSite, opened ? WorkResult::Done : WorkResult::Failed);
        if (observer && !silent) MessageBoxW(owner, L"", caption.wc(), MB_ICONINFORMATION);
    }
}
