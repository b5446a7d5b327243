// The publisher check of a held setup file: its Authenticode signature must
// be valid and trusted, its chain must hold a pinned certificate
// (SignerThumbprint) and its signing certificate must carry the SignerName,
// each only when asked. wintrust.dll and crypt32.dll come from the system
// folder on first need.
//
// Revocation is checked for the whole chain, from what the system has cached
// only: the check never goes to the network, so an offline machine never
// waits. Windows XP and Server 2003 cannot restrict the retrieval to the
// cache; there revocation is not asked for.
#pragma once

#include <windows.h>

#include "base/wstr.h"
#include "download/signer_rules.h"

// Checks the file open on the handle (read from the handle, not from the
// path: the trust provider is given both, the path because its structure
// needs one and for the kind of file). The handle must allow reading; its
// file pointer is moved. Every failure, a system that cannot check
// included, rejects the file.
SignerResult CheckSigner(HANDLE file, const WString& displayPath, const SignerPins& pins);

// The log line of a failed check: its text, the path and why (the
// provider's answer, or the name the file's signer has).
WString SignerLogLine(const SignerResult& result, const WString& displayPath);
