// Result codes of transfers and of the download engine: 0 for success,
// Win32 and WinINet codes as the system reports them, and the codes of this
// system's own family below. None of them has a system message text, so the
// log shows them as signed decimal numbers (0xE0000018 as -536870888).
#pragma once

#include "base/result.h"

// Transfers.
constexpr ResultCode E_DL_BAD_TARGET = 0xE0000005u;         // the target path is not absolute
constexpr ResultCode E_DL_CANCELLED = 0xE0000008u;          // the observer asked to cancel
constexpr ResultCode E_DL_PARTIAL_TOO_LARGE = 0xE0000010u;  // the part file holds at least the whole remote file
constexpr ResultCode E_DL_AUTH_REQUIRED = 0xE0000012u;      // credentials demanded and not supplied
constexpr ResultCode E_DL_NOT_MODIFIED = 0xE0000013u;       // the server answered 304
constexpr ResultCode E_DL_FORBIDDEN = 0xE0000016u;          // the server answered 403
constexpr ResultCode E_DL_NOT_FOUND = 0xE0000018u;          // the server answered 404 or 410
// The server answered with an error status (400 or above) that has no code
// of its own above; its body is never stored as the file.
constexpr ResultCode E_DL_HTTP_ERROR = 0xE0000019u;
// The server stayed unavailable (408, 429 or 5xx) through every retry.
constexpr ResultCode E_DL_SERVER_UNAVAILABLE = 0xE000001Au;
// The target's volume cannot hold a file this large (its file system takes
// smaller files, as FAT's below 4 GiB), or the size announced is beyond any
// file; nothing is written and the part file is kept.
constexpr ResultCode E_DL_FILE_TOO_LARGE = 0xE000001Bu;
constexpr ResultCode E_DL_SIZE_MISMATCH = 0xE0000023u;      // the announced size differs from the expected size
// The connection kept ending before the whole file was there, through every
// resumption; the part file keeps what came.
constexpr ResultCode E_DL_INCOMPLETE = 0xE000001Cu;
// Nothing arrived for kNoDataLimitMs, through every resumption; the part
// file keeps what came.
constexpr ResultCode E_DL_STALLED = 0xE000001Du;
// An https URL was redirected to http and no MD5 or SHA256 checks the file.
constexpr ResultCode E_DL_INSECURE_REDIRECT = 0xE000001Eu;
// The request was redirected more than kMaxRedirects times (a loop).
constexpr ResultCode E_DL_REDIRECT_LOOP = 0xE0000027u;
// The file is larger than the free space of the target's volume leaves room
// for: refused before anything is written; the part file is kept.
constexpr ResultCode E_DL_DISK_FULL = 0xE0000028u;

// The download engine.
constexpr ResultCode E_DL_FILE_REJECTED = 0xE0000022u;      // a downloaded file failed the size or MD5 check
constexpr ResultCode E_DL_MANDATORY_FAILED = 0xE0000024u;   // a mandatory prerequisite's download or setup failed
constexpr ResultCode E_REBOOT_STARTED = 0xE0000025u;        // a setup asked for a reboot and it has been started

