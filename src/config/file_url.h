// Location texts that name a local file: "file:///" or "file://" in any
// letter case. Portable.
#pragma once

#include "base/wstr.h"

bool IsLocalFileUrl(const WString& location);
// The local path of a file URL, every "/" turned into "\": file:///C:/x is
// C:\x, file://host/share/x the share \\host\share\x, file://localhost/C:/x
// and file://C:/x this machine's C:\x; empty for a URL that would give a
// relative path (file:///x, file://C:x).
WString LocalPathOfFileUrl(const WString& location);
