// Test program: holds a file as the chainer does (reading, shared for reading
// only) and runs the publisher check on the handle:
//   signer_probe <file> [--thumbprints T] [--name N] [--display PATH] [--no-handle 1]
// --display gives the path the check is told (default: the file itself);
// --no-handle hands the check no handle at all (the file is still held).
// Output (UTF-8): "failure=<n> code=0x<hex> ms=<elapsed>", "name=<signer>",
// "log=<log line>"; the exit code is the failure's number, 9 when the file
// cannot be held.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include "download/signer_check_win.h"
#include "platform/win_util.h"

static void Print(const char* prefix, const WString& text) {
    NarrowText narrow;
    Narrow(text, &narrow, CP_UTF8);
    printf("%s%s\n", prefix, narrow.c_str());
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: signer_probe <file> [--thumbprints T] [--name N] [--display PATH]\n");
        return 2;
    }
    WString thumbprints, name, display(argv[1]);
    bool noHandle = false;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (!wcscmp(argv[i], L"--thumbprints")) thumbprints = WString(argv[i + 1]);
        else if (!wcscmp(argv[i], L"--name")) name = WString(argv[i + 1]);
        else if (!wcscmp(argv[i], L"--display")) display = WString(argv[i + 1]);
        else if (!wcscmp(argv[i], L"--no-handle")) noHandle = true;
    }
    UniqueFile held(CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!held) return 9;
    const DWORD start = GetTickCount();
    const SignerResult result = CheckSigner(noHandle ? INVALID_HANDLE_VALUE : held.Get(), display, SignerPins(thumbprints, name));
    printf("failure=%d code=0x%08X ms=%lu\n", static_cast<int>(result.failure), result.code, GetTickCount() - start);
    Print("name=", result.signerName);
    Print("log=", SignerLogLine(result, display));
    fflush(stdout);
    return static_cast<int>(result.failure);
}
