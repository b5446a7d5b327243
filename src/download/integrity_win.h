// Integrity of a downloaded file: its exact size, its MD5 and SHA-256 digests.
#pragma once

#include "base/wstr.h"
#include "config/prerequisite.h"

// The file's MD5 as 32 lowercase hexadecimal digits. False when the file
// cannot be opened, its size cannot be read or it is empty.
bool FileMd5(const WString& path, WString* digest);

// True when the file matches the prerequisite's ExactSize, MD5 and SHA256 (each
// only when stated).
bool CheckDownloadedFile(const Prerequisite& prerequisite, const WString& path);
