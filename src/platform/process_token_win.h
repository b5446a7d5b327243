// What the process's own token says about it: whether it runs as
// LocalSystem, whether it is elevated, and its user's SID.
#pragma once

#include <windows.h>

#include "base/owned.h"

// The token's user is S-1-5-18.
bool ProcessIsLocalSystem();

// LocalSystem, or a token with full administrator rights: elevated where
// the system knows elevation (looked up at run time), a member of the
// Administrators group where it does not (Windows XP).
bool ProcessIsElevated();

// A copy of the token user's SID; empty when it cannot be read.
HeapBlock ProcessUserSid();
