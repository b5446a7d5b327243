#include "install/package_launcher_win.h"

#include "base/process_flags.h"
#include "base/resource_ids.h"
#include "platform/win_util.h"

namespace {

// Planned shutdown; major reason application, minor reason installation.
constexpr DWORD kRestartReason = 0x80040002;

}  // namespace

bool PackageLauncher::RebootMachine(bool silent) {
    if (!silent) {
        // A restart only on an explicit Yes: No is the default button, and
        // Esc, closing the box or a box that cannot be shown (0) mean No.
        WString text = LoadResourceString(IDS_REBOOT_QUESTION);
        WString caption = RunTitle.IsEmpty() ? LoadResourceString(IDS_CONFIRMATION) : RunTitle;
        int answer = MessageBoxW(GetForegroundWindow(), text.wc(), caption.wc(),
                                 MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2 | MB_SETFOREGROUND);
        if (answer != IDYES) {
            rebootDeclined_ = true;
            return false;
        }
    }

    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive())) return false;
    TOKEN_PRIVILEGES privileges;
    ZeroMemory(&privileges, sizeof(privileges));
    if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) return false;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // AdjustTokenPrivileges answers success also when the privilege was not
    // granted; only the last error tells.
    AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
    if (GetLastError() != ERROR_SUCCESS) return false;
    return platform_->RequestRestart(kRestartReason);
}
