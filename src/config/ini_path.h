// Where the configuration file lies and how its bytes become text. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/wstr.h"

// The executable's folder, a backslash unless it already ends in one, the
// base name cut at its last "." (whole without one) and ".ini".
WString IniPathForExecutable(const WString& executablePath);
// The folder of the executable: the text before its last backslash.
WString ExecutableFolder(const WString& executablePath);

// The configuration text of a file's bytes: the first two bytes are skipped
// whatever they are; a trailing odd byte is ignored; fewer than two bytes
// give an empty text.
WString ConfigurationTextFromBytes(const uint8_t* bytes, size_t size);
