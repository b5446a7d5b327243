#include "base/narrow_text_win.h"

#include "base/fatal.h"

WString Widen(const char* text, int length, UINT codePage) {
    if (!text) return WString();
    if (length < 0) length = lstrlenA(text);
    if (length == 0) return WString();
    int n = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    if (n <= 0) return WString();
    WString out;
    n = MultiByteToWideChar(codePage, 0, text, length, out.GetWBuffer(n), n);
    out.ReleaseBuffer(n > 0 ? n : 0);
    return out;
}

NarrowText::~NarrowText() { MemFree(data); }

void Narrow(const WString& text, NarrowText* out, UINT codePage) {
    MemFree(out->data);
    out->data = nullptr;
    out->length = 0;
    int n = text.IsEmpty() ? 0 : WideCharToMultiByte(codePage, 0, text.wc(), text.Length(), nullptr, 0, nullptr, nullptr);
    out->data = static_cast<char*>(MemAlloc(static_cast<size_t>(n) + 1));
    if (!out->data) RaiseFailure(kHrOutOfMemory);
    if (n > 0) n = WideCharToMultiByte(codePage, 0, text.wc(), text.Length(), out->data, n, nullptr, nullptr);
    out->length = n > 0 ? n : 0;
    out->data[out->length] = 0;
}
