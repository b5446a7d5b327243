// Conversions between wide text and the system's code pages.
#pragma once

#include <windows.h>

#include "base/wstr.h"

// Code-page conversions (CP_ACP unless told otherwise).
WString Widen(const char* text, int length = -1, UINT codePage = CP_ACP);
// Narrow text without terminating NUL in the result length.
struct NarrowText {
    char* data = nullptr;
    int length = 0;
    NarrowText() {}
    NarrowText(const NarrowText&) = delete;
    NarrowText& operator=(const NarrowText&) = delete;
    ~NarrowText();
    const char* c_str() const { return data ? data : ""; }
};
void Narrow(const WString& text, NarrowText* out, UINT codePage = CP_ACP);
