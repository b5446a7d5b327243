#include "platform/process_runner_win.h"

#include <exdisp.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

#include "platform/path_rules.h"
#include "base/grow_retry.h"
#include "platform/registry_key_win.h"
#include "platform/win_util.h"

namespace {

const CLSID kClsidShellWindows = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const IID kIidShellWindows = {0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const GUID kSidTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
const IID kIidServiceProvider = {0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
const IID kIidShellBrowser = {0x000214E2, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidShellFolderViewDual = {0xE7A1AF80, 0x4D96, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const IID kIidShellDispatch2 = {0xA4C6892C, 0x3BA9, 0x11D2, {0x9D, 0xEA, 0x00, 0xC0, 0x4F, 0xB1, 0x61, 0x62}};

// A VARIANT that clears itself.
struct Variant {
    VARIANT value;
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
};

}  // namespace


ShellRunResult ShellOpenAndWait(const WString& file, const WString& parameters, const WString& folder,
                                int showCommand) {
    ShellRunResult result;
    // The shell does not understand the long-path prefix.
    WString shellFile = RemoveLongPrefix(file);
    WString shellFolder = RemoveLongPrefix(folder);

    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = L"open";
    info.lpFile = shellFile.wc();
    info.lpParameters = parameters.IsEmpty() ? nullptr : parameters.wc();
    info.lpDirectory = shellFolder.IsEmpty() ? nullptr : shellFolder.wc();
    info.nShow = showCommand;

    if (!ShellExecuteExW(&info)) {
        result.error = GetLastError();
        // A failing shell that left no error behind still must not read as success.
        if (result.error == 0) result.error = ERROR_GEN_FAILURE;
        return result;
    }
    result.started = true;
    if (info.hProcess) {
        UniqueHandle process(info.hProcess);
        result.exitCode = WaitForExitCode(process.Get());
        result.hadProcess = true;
    }
    return result;
}

bool OpenThroughDesktopShell(const WString& target) {
    UniqueCom<IShellWindows> windows;
    if (FAILED(CoCreateInstance(kClsidShellWindows, nullptr, CLSCTX_LOCAL_SERVER, kIidShellWindows,
                                reinterpret_cast<void**>(windows.Receive()))))
        return false;
    Variant location, root;
    V_VT(&location.value) = VT_I4;
    V_I4(&location.value) = CSIDL_DESKTOP;
    long window = 0;
    UniqueCom<IDispatch> desktop;
    if (windows.Get()->FindWindowSW(&location.value, &root.value, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                                    desktop.Receive()) != S_OK || !desktop)
        return false;
    UniqueCom<IServiceProvider> services;
    UniqueCom<IShellBrowser> browser;
    UniqueCom<IShellView> view;
    UniqueCom<IDispatch> background;
    UniqueCom<IShellFolderViewDual> folderView;
    UniqueCom<IDispatch> application;
    UniqueCom<IShellDispatch2> shell;
    if (FAILED(desktop.Get()->QueryInterface(kIidServiceProvider, reinterpret_cast<void**>(services.Receive()))) ||
        FAILED(services.Get()->QueryService(kSidTopLevelBrowser, kIidShellBrowser,
                                            reinterpret_cast<void**>(browser.Receive()))) ||
        FAILED(browser.Get()->QueryActiveShellView(view.Receive())) || !view ||
        FAILED(view.Get()->GetItemObject(SVGIO_BACKGROUND, kIidDispatch, reinterpret_cast<void**>(background.Receive()))) ||
        FAILED(background.Get()->QueryInterface(kIidShellFolderViewDual, reinterpret_cast<void**>(folderView.Receive()))) ||
        FAILED(folderView.Get()->get_Application(application.Receive())) || !application ||
        FAILED(application.Get()->QueryInterface(kIidShellDispatch2, reinterpret_cast<void**>(shell.Receive()))))
        return false;
    BSTR file = SysAllocString(target.wc());
    if (!file) return false;
    Variant arguments, folder, verb, show;
    V_VT(&verb.value) = VT_BSTR;
    V_BSTR(&verb.value) = SysAllocString(L"open");
    V_VT(&show.value) = VT_I4;
    V_I4(&show.value) = SW_SHOWNORMAL;
    const HRESULT hr = shell.Get()->ShellExecute(file, arguments.value, folder.value, verb.value, show.value);
    SysFreeString(file);
    return SUCCEEDED(hr);
}

WString MachineUrlHandler(const WString& scheme) {
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, u"Software\\Classes\\" + scheme + u"\\shell\\open\\command", KEY_QUERY_VALUE) !=
        kResultOk)
        return WString();
    WString command;
    if (!key.ReadString(L"", 0x10000, false, &command)) return WString();
    // A REG_EXPAND_SZ command names %SystemRoot% and the like.
    WString expanded;
    const bool read = GrowAndRetry(static_cast<uint32_t>(command.Length()) + 64, 4, [&](uint32_t capacity, uint32_t* needed) {
        const DWORD n = ExpandEnvironmentStringsW(command.wc(), expanded.GetWBuffer(static_cast<int>(capacity)), capacity);
        if (n == 0) {
            expanded.ReleaseBuffer(0);
            return QueryStep::kFailed;
        }
        if (n > capacity) {
            expanded.ReleaseBuffer(0);
            *needed = n;
            return QueryStep::kGrow;
        }
        expanded.ReleaseBuffer(static_cast<int>(n - 1));
        return QueryStep::kDone;
    });
    return read ? expanded : command;
}

UniqueHandle StartProcess(const WString& program, const WString& commandLine, const WString& folder, int showCommand) {
    WString writable = commandLine;  // CreateProcessW may write into its command line
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showCommand);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessW(program.wc(), writable.GetWBuffer(writable.Length()), nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, folder.IsEmpty() ? nullptr : folder.wc(), &startup, &process))
        return UniqueHandle();
    UniqueHandle thread(process.hThread);
    return UniqueHandle(process.hProcess);
}
