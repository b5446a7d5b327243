// Helpers shared by the chainer's dialogs: the window icons, centring over
// the owner, the "%s Setup" title and the message pump used while waiting.
#pragma once

#include <windows.h>

#include "base/wstr.h"

// The icons of group 128 at the small and the large system size.
struct DialogIcons {
    HICON small = nullptr;
    HICON large = nullptr;
};

// Loads the icons (LoadIconMetric when comctl32 has it, else LoadImage at the
// system metrics sizes) and sets both on the window. Failures are ignored.
// Registers the common-control window classes the dialogs use; the first
// window of the run calls it, so runs that show none pay nothing for it.
void EnsureCommonControls();

DialogIcons SetDialogIcons(HWND window);
void DestroyDialogIcons(DialogIcons* icons);

// Centres the window over its owner, or over the work area when it has no
// visible owner; the window is kept inside the work area.
void CenterOverOwner(HWND window);

// "%s Setup" (string 161) filled with the product name.
WString SetupTitleFor(const WString& productName);

// The product name shown in titles: the executable's ProductName, or the
// executable path when it has none.
WString ProductNameOrPath(const WString& executablePath);
