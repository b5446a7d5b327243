#include "evaluation/content_test.h"

namespace {

// Position of the first occurrence of needle in haystack from a position on,
// over the full lengths of both texts; -1 when absent.
int FindUnits(const WString& haystack, const WString& needle, int from) {
    int n = needle.Length();
    int len = haystack.Length();
    const char16_t* h = haystack.c_str();
    const char16_t* s = needle.c_str();
    for (int i = from; i + n <= len; ++i) {
        int k = 0;
        while (k < n && h[i + k] == s[k]) ++k;
        if (k == n) return i;
    }
    return -1;
}

bool EqualUnits(const WString& a, const WString& b) {
    if (a.Length() != b.Length()) return false;
    const char16_t* x = a.c_str();
    const char16_t* y = b.c_str();
    for (int i = 0; i < a.Length(); ++i)
        if (x[i] != y[i]) return false;
    return true;
}

bool AllDigits(const WString& text) {
    for (int i = 0; i < text.Length(); ++i)
        if (text[i] < u'0' || text[i] > u'9') return false;
    return true;
}

int FirstSignificant(const WString& digits) {
    int i = 0;
    while (i < digits.Length() && digits[i] == u'0') ++i;
    return i;
}

}  // namespace

int CompareDecimalTexts(const WString& a, const WString& b, bool* valid) {
    *valid = AllDigits(a) && AllDigits(b);
    if (!*valid) return 0;
    // Numbers of any length: leading zeros dropped, then the longer one is
    // greater, and equal lengths compare digit by digit.
    int ia = FirstSignificant(a);
    int ib = FirstSignificant(b);
    int la = a.Length() - ia;
    int lb = b.Length() - ib;
    if (la != lb) return la < lb ? -1 : 1;
    for (int k = 0; k < la; ++k) {
        if (a[ia + k] != b[ib + k]) return a[ia + k] < b[ib + k] ? -1 : 1;
    }
    return 0;
}

bool ContentTestPasses(const WString& content, const WString& refContent) {
    if (refContent.IsEmpty()) return false;
    char16_t op = refContent[0];
    WString reference = refContent.Mid(1);
    switch (op) {
        case u'C':
            return FindUnits(content, reference, 0) >= 0;
        case u'X':
            return FindUnits(content, reference, 0) < 0;
        case u'S':
            return FindUnits(content, reference, 0) == 0;
        case u'E': {
            int at = content.Length() - reference.Length();
            return at >= 0 && FindUnits(content, reference, at) == at;
        }
        case u'M':
            return EqualUnits(content, reference);
        case u'D':
            return !EqualUnits(content, reference);
        case u'G':
        case u'L': {
            bool valid = false;
            int order = CompareDecimalTexts(content, reference, &valid);
            if (!valid) return false;
            return op == u'G' ? order > 0 : order < 0;
        }
        default:
            return false;
    }
}
