// Drives the package launcher and the cleanup script runner from a system
// test. Arguments are key=value; the results go to the file named by out=.
//   launch_probe install out= file= args= name= reboot= system=0|1 elevated=0|1 silent=0|1
//                present=0|1 key= log= restart=0|1 title= (the run's title: the restart question's caption)
//   launch_probe script out= paths=<a|b|...> script= retries= elevated=0|1
//                (elevated: also reports the read-back descriptor of the
//                copy's folder: "dacl_protected=0|1", "entries=")
// The restart request is recorded, never made: this probe stands in for the
// machine's LaunchPlatform.
#include <windows.h>
#include <aclapi.h>
#include <stdio.h>

#include "config/interboot_store_win.h"
#include "install/package_launcher_win.h"
#include "install/script_runner_win.h"
#include "log/log.h"
#include "log/logger_win.h"
#include "platform/references_win.h"
#include "platform/win_util.h"

namespace {

class RecordingPlatform : public LaunchPlatform {
public:
    bool system = false;
    bool elevated = false;
    bool accept = true;
    int restarts = 0;
    DWORD reason = 0;
    bool IsLocalSystem() override { return system; }
    bool IsElevated() override { return system || elevated; }
    bool RequestRestart(DWORD why) override {
        ++restarts;
        reason = why;
        return accept;
    }
};

class FixedPresence : public PresenceChecker {
public:
    bool present = false;
    int asked = -1;
    bool IsPresent(int index) override {
        asked = index;
        return present;
    }
};

WString Arg(int argc, wchar_t** argv, const wchar_t* key) {
    size_t n = wcslen(key);
    for (int i = 2; i < argc; ++i)
        if (wcsncmp(argv[i], key, n) == 0 && argv[i][n] == L'=') return WString(argv[i] + n + 1);
    return WString();
}

void Put(FILE* out, const char* key, const WString& value) {
    NarrowText text;
    Narrow(value, &text, CP_UTF8);
    fprintf(out, "%s=%s\n", key, text.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    FILE* out = _wfopen(Arg(argc, argv, L"out").wc(), L"wb");
    if (!out) return 3;
    WString logPath = Arg(argc, argv, L"log");
    if (!logPath.IsEmpty()) {
        LoggingEnabled = true;
        TheLogger().SetLogFile(logPath);
    }

    if (wcscmp(argv[1], L"install") == 0) {
        RunTitle = Arg(argc, argv, L"title");
        RecordingPlatform platform;
        platform.system = Arg(argc, argv, L"system") == u"1";
        platform.elevated = Arg(argc, argv, L"elevated") == u"1";
        platform.accept = Arg(argc, argv, L"restart") != u"0";
        FixedPresence presence;
        presence.present = Arg(argc, argv, L"present") == u"1";
        NarrowText key;
        Narrow(Arg(argc, argv, L"key"), &key);
        InterbootStore store(key.c_str(), false);
        PackageLauncher launcher(&store, &presence, &platform);
        LaunchItem item;
        item.FilePath = Arg(argc, argv, L"file");
        // As the run's plan prepares it: the method for this process's
        // rights, and folder references resolved for a run as LocalSystem.
        item.Method = ChooseLaunchMethod(item.FilePath, platform.system || platform.elevated);
        item.CommandLine = platform.system ? ExpandFolderProperties(Arg(argc, argv, L"args"), false)
                                           : Arg(argc, argv, L"args");
        item.RetValPropName = Arg(argc, argv, L"name");
        item.Reboot = static_cast<RebootMode>(ParseLenientInt(Arg(argc, argv, L"reboot")));
        item.Codes = ReturnCodeTable::Parse(Arg(argc, argv, L"codes"));
        item.PrerequisiteIndex = 4;
        item.ReturnCode = 99;  // Add resets it
        launcher.Add(item);
        DWORD started = GetTickCount();
        InstallOutcome outcome = launcher.Install(0, Arg(argc, argv, L"silent") == u"1");
        DWORD elapsed = GetTickCount() - started;
        fprintf(out, "outcome=%d\nreturncode=%lu\ndeclined=%d\nstarted=%d\nrestarts=%d\nreason=0x%08lx\n",
                static_cast<int>(outcome), static_cast<unsigned long>(launcher.Item(0).ReturnCode),
                launcher.RebootDeclined() ? 1 : 0, launcher.RebootStarted() ? 1 : 0, platform.restarts,
                static_cast<unsigned long>(platform.reason));
        fprintf(out, "presence_asked=%d\nelapsed=%lu\n", presence.asked, static_cast<unsigned long>(elapsed));
    } else if (wcscmp(argv[1], L"script") == 0) {
        Array<WString> paths;
        WString list = Arg(argc, argv, L"paths");
        int start = 0;
        for (int i = 0; i <= list.Length(); ++i) {
            if (i == list.Length() || list[i] == u'|') {
                if (i > start) paths.Add(list.Substr(start, i - start));
                start = i + 1;
            }
        }
        CleanupScriptRunner runner(paths, Arg(argc, argv, L"script"), ParseLenientInt(Arg(argc, argv, L"retries")));
        const bool elevated = Arg(argc, argv, L"elevated") == u"1";
        runner.SetProtectedCopy(elevated);
        bool result = runner.Run();
        if (elevated && !runner.TemporaryScript().IsEmpty()) {
            const WString& copy = runner.TemporaryScript();
            const WString folder = copy.Left(copy.FindLastChar(u'\\'));
            PACL acl = nullptr;
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            if (GetNamedSecurityInfoW(folder.wc(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                      nullptr, &descriptor) == ERROR_SUCCESS) {
                SECURITY_DESCRIPTOR_CONTROL control = 0;
                DWORD revision = 0;
                GetSecurityDescriptorControl(descriptor, &control, &revision);
                fprintf(out, "dacl_protected=%d\nentries=%u\n", (control & SE_DACL_PROTECTED) ? 1 : 0,
                        acl ? static_cast<unsigned>(acl->AceCount) : 0u);
                LocalFree(descriptor);
            }
        }
        fprintf(out, "result=%d\npid=%lu\n", result ? 1 : 0, static_cast<unsigned long>(runner.ProcessId()));
        Put(out, "temp", runner.TemporaryScript());
        Put(out, "program", runner.Program());
        Put(out, "params", runner.Parameters());
    }
    fclose(out);
    if (LoggingEnabled) TheLogger().Close();
    return 0;
}
