// Opens a web page in the user's default browser through an Internet
// shortcut file handed to the shell.
#pragma once

#include "base/wstr.h"

// Writes a new shortcut to the URL in folder (a name that exists is never
// used), opens it through the shell and waits, bounded, until the program
// that opens it has read it. Answers the shortcut's path (empty when none
// could be written); the caller deletes it.
WString OpenUrlViaShortcut(const WString& url, const WString& folder);
