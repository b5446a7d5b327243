#include "download/transfer_rules.h"

namespace {

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads an unsigned decimal number at position; false when there is no digit
// or it does not fit in 32 bits.
bool ReadUnsigned(const WString& text, int* position, uint32_t* value) {
    int i = *position;
    uint64_t v = 0;
    int digits = 0;
    while (i < text.Length() && text[i] >= u'0' && text[i] <= u'9') {
        v = v * 10 + static_cast<uint64_t>(text[i] - u'0');
        if (v > 0xFFFFFFFFull) return false;
        ++i;
        ++digits;
    }
    if (!digits) return false;
    *position = i;
    *value = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

WString PercentDecode(const WString& text) {
    if (!text.Contains(u'%')) return text;
    WString out;
    const int length = text.Length();
    for (int i = 0; i < length; ++i) {
        char16_t c = text[i];
        if (c == u'%' && i + 2 < length) {
            int high = HexValue(text[i + 1]);
            int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.Append(static_cast<char16_t>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.Append(c);
    }
    return out;
}

uint32_t LeadingReplyCode(const WString& reply) {
    int i = 0;
    while (i < reply.Length() && (reply[i] == u' ' || reply[i] == u'\t')) ++i;
    uint32_t code = 0;
    if (!ReadUnsigned(reply, &i, &code)) return 0;
    return code;
}

bool ParseContentRange(const WString& value, uint32_t* first, uint32_t* total) {
    WString text = value.Trimmed();
    if (!text.StartsWithNoCase(u"bytes")) return false;
    int i = 5;
    while (i < text.Length() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'=')) ++i;
    uint32_t start = 0, last = 0;
    if (!ReadUnsigned(text, &i, &start)) return false;
    if (i >= text.Length() || text[i] != u'-') return false;
    ++i;
    if (!ReadUnsigned(text, &i, &last) || last < start) return false;
    if (i >= text.Length() || text[i] != u'/') return false;
    ++i;
    uint32_t whole = 0;
    if (i < text.Length() && text[i] == u'*') {
        ++i;
    } else if (!ReadUnsigned(text, &i, &whole) || whole <= last) {
        return false;
    }
    if (i != text.Length()) return false;
    *first = start;
    *total = whole;
    return true;
}

bool IsAbsoluteTargetPath(const WString& path) {
    if (path.Length() < 2) return false;
    return path[1] == u':' || (path[0] == u'\\' && path[1] == u'\\');
}

bool ReconnectStallGuard::MayReconnect(uint32_t partSize) {
    if (!first_ && partSize == lastSize_) {
        ++stalled_;
    } else if (!first_) {
        stalled_ = 0;
    }
    first_ = false;
    lastSize_ = partSize;
    return stalled_ < kMaxStalledReconnects;
}
