// Opens a web page in the user's default browser through an Internet
// shortcut file handed to the shell.
#pragma once

#include "base/wstr.h"

void OpenUrlViaShortcut(const WString& url);
