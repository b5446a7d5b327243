#include "ui/dialog_support_win.h"

#include <commctrl.h>

#include "base/resource_ids.h"
#include "platform/system_library_win.h"
#include "platform/win_util.h"
#include "ui/status_window_win.h"

namespace {
typedef HRESULT(WINAPI* LoadIconMetricFn)(HINSTANCE, PCWSTR, int, HICON*);

HICON LoadMainIcon(LoadIconMetricFn loadIconMetric, int metric, int systemWidth, int systemHeight) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HICON icon = nullptr;
    if (loadIconMetric) {
        if (FAILED(loadIconMetric(instance, MAKEINTRESOURCEW(IDI_MAIN), metric, &icon))) icon = nullptr;
        return icon;
    }
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON,
                                         GetSystemMetrics(systemWidth), GetSystemMetrics(systemHeight),
                                         LR_DEFAULTCOLOR));
}
}  // namespace

DialogIcons SetDialogIcons(HWND window) {
    // LoadIconMetric exists only in version 6 of the common controls
    // (Vista and later); it is looked up so that the program still starts on
    // XP. The loaded common controls are the manifest's side-by-side ones,
    // not the system folder's older copy.
    LoadIconMetricFn loadIconMetric =
        ModuleFunction<LoadIconMetricFn>(GetModuleHandleW(L"comctl32.dll"), "LoadIconMetric");
    DialogIcons icons;
    icons.small = LoadMainIcon(loadIconMetric, 0 /* LIM_SMALL */, SM_CXSMICON, SM_CYSMICON);
    icons.large = LoadMainIcon(loadIconMetric, 1 /* LIM_LARGE */, SM_CXICON, SM_CYICON);
    if (icons.small) SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.small));
    if (icons.large) SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.large));
    return icons;
}

void DestroyDialogIcons(DialogIcons* icons) {
    if (icons->small) DestroyIcon(icons->small);
    if (icons->large) DestroyIcon(icons->large);
    icons->small = icons->large = nullptr;
}

void CenterOverOwner(HWND window) {
    RECT area;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        area.left = area.top = 0;
        area.right = GetSystemMetrics(SM_CXSCREEN);
        area.bottom = GetSystemMetrics(SM_CYSCREEN);
    }
    RECT center = area;
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &center);

    RECT self;
    if (!GetWindowRect(window, &self)) return;
    int width = self.right - self.left;
    int height = self.bottom - self.top;
    int x = (center.left + center.right) / 2 - width / 2;
    int y = (center.top + center.bottom) / 2 - height / 2;
    if (x + width > area.right) x = area.right - width;
    if (y + height > area.bottom) y = area.bottom - height;
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

WString SetupTitleFor(const WString& productName) {
    WString format = LoadResourceString(IDS_SETUP_TITLE);
    if (format.IsEmpty()) format = u"%s Setup";
    return Format(format.c_str(), productName);
}

WString ProductNameOrPath(const WString& executablePath) {
    WString name = ReadProductName(executablePath);
    return name.IsEmpty() ? executablePath : name;
}

static OnceFlag g_commonControls;

void EnsureCommonControls() {
    g_commonControls.Run([] {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
    });
}
