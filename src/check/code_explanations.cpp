#include "check/code_explanations.h"

#include "download/result_codes.h"

const CodeExplanation kCodeExplanations[] = {
    {0, u"ERROR_SUCCESS", u"success"},
    {2, u"ERROR_FILE_NOT_FOUND", u"a file was not found"},
    {3, u"ERROR_PATH_NOT_FOUND", u"a folder of the path does not exist"},
    {5, u"ERROR_ACCESS_DENIED", u"access was denied"},
    {32, u"ERROR_SHARING_VIOLATION", u"the file is in use by another process"},
    {112, u"ERROR_DISK_FULL", u"the disk is full"},
    {126, u"ERROR_MOD_NOT_FOUND", u"a DLL could not be loaded from the system folder"},
    {127, u"ERROR_PROC_NOT_FOUND", u"a function of a system DLL is missing"},
    {1223, u"ERROR_CANCELLED", u"the user cancelled (for example the elevation prompt)"},
    {1602, u"ERROR_INSTALL_USEREXIT", u"the user cancelled an install"},
    {1603, u"ERROR_INSTALL_FAILURE", u"a fatal error in the download or install phase"},
    {3010, u"ERROR_SUCCESS_REBOOT_REQUIRED", u"a setup succeeded and asks for a reboot"},
    {12002, u"ERROR_INTERNET_TIMEOUT", u"the server did not answer in time"},
    {12007, u"ERROR_INTERNET_NAME_NOT_RESOLVED", u"the server name could not be resolved"},
    {12029, u"ERROR_INTERNET_CANNOT_CONNECT", u"the connection to the server failed"},
    {12030, u"ERROR_INTERNET_CONNECTION_ABORTED", u"the connection was aborted"},
    {12031, u"ERROR_INTERNET_CONNECTION_RESET", u"the connection was reset"},
    {12152, u"ERROR_HTTP_INVALID_SERVER_RESPONSE", u"the server's answer could not be understood"},
    {E_DL_BAD_TARGET, u"E_DL_BAD_TARGET", u"the download target path is not absolute"},
    {E_DL_CANCELLED, u"E_DL_CANCELLED", u"the download was cancelled"},
    {E_DL_PARTIAL_TOO_LARGE, u"E_DL_PARTIAL_TOO_LARGE",
     u"the partial (.part) file already holds at least as many bytes as the whole remote file"},
    {E_DL_AUTH_REQUIRED, u"E_DL_AUTH_REQUIRED", u"the server or proxy demands credentials that were not supplied"},
    {E_DL_NOT_MODIFIED, u"E_DL_NOT_MODIFIED", u"the server answered 304 (not modified)"},
    {E_DL_FORBIDDEN, u"E_DL_FORBIDDEN", u"the server answered 403 (forbidden)"},
    {E_DL_NOT_FOUND, u"E_DL_NOT_FOUND", u"the server answered 404 or 410 (not found)"},
    {E_DL_HTTP_ERROR, u"E_DL_HTTP_ERROR",
     u"the server answered an error status (400 or above) that has no code of its own; the page was not stored"},
    {E_DL_SERVER_UNAVAILABLE, u"E_DL_SERVER_UNAVAILABLE",
     u"the server answered 408, 429 or 5xx and still did after the retries"},
    {E_DL_FILE_TOO_LARGE, u"E_DL_FILE_TOO_LARGE", u"the file or its .part file is 4 GiB or larger; the part file is kept"},
    {E_DL_INCOMPLETE, u"E_DL_INCOMPLETE", u"the connection kept ending before the whole file had arrived; the part file is kept"},
    {E_DL_STALLED, u"E_DL_STALLED", u"no data arrived for 60 seconds, also after resuming; the part file is kept"},
    {E_DL_INSECURE_REDIRECT, u"E_DL_INSECURE_REDIRECT", u"an https URL redirected to http, and no MD5 or SHA256 checks the file"},
    {E_DL_FILE_REJECTED, u"E_DL_FILE_REJECTED", u"a downloaded file failed the ExactSize or MD5 check"},
    {E_DL_SIZE_MISMATCH, u"E_DL_SIZE_MISMATCH", u"the size announced by the source differs from ExactSize"},
    {E_DL_MANDATORY_FAILED, u"E_DL_MANDATORY_FAILED", u"the download or the setup of a mandatory prerequisite failed"},
    {E_REBOOT_STARTED, u"E_REBOOT_STARTED", u"a setup asked for a reboot and the reboot has been started"},
};
const int kCodeExplanationCount = sizeof(kCodeExplanations) / sizeof(kCodeExplanations[0]);

bool ParseResultCode(const WString& text, uint32_t* code) {
    WString t = text.Trimmed();
    if (t.IsEmpty()) return false;
    bool hex = t.StartsWithNoCase(u"0x");
    int start = hex ? 2 : 0;
    bool negative = !hex && t[0] == u'-';
    if (negative) start = 1;
    if (!hex)
        for (int i = start; i < t.Length(); ++i)
            if (HexDigitValue(t[i]) >= 10) hex = true;  // letters: hexadecimal without a prefix
    if (negative && hex) return false;
    if (start == t.Length()) return false;
    uint64_t value = 0;
    for (int i = start; i < t.Length(); ++i) {
        int digit = HexDigitValue(t[i]);
        if (digit < 0 || (!hex && digit > 9)) return false;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return false;
    }
    if (negative) {
        if (value > 0x80000000ull) return false;
        value = (0x100000000ull - value) & 0xFFFFFFFFull;
    }
    *code = static_cast<uint32_t>(value);
    return true;
}

const CodeExplanation* ExplainCode(uint32_t code) {
    for (int i = 0; i < kCodeExplanationCount; ++i)
        if (kCodeExplanations[i].code == code) return &kCodeExplanations[i];
    return nullptr;
}
