// Location texts that name a local file: "file:///" or "file://" in any
// letter case. Portable.
#pragma once

#include "base/wstr.h"

bool IsLocalFileUrl(const WString& location);
// The rest of the location after the prefix, every "/" turned into "\".
WString LocalPathOfFileUrl(const WString& location);
