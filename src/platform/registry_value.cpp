#include "platform/registry_value.h"

namespace {

// UTF-16LE code unit i of the data; a trailing odd byte is not a unit.
char16_t UnitAt(const uint8_t* data, size_t i) {
    return static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
}

WString Units(const uint8_t* data, size_t count) {
    WString text;
    if (count == 0) return text;
    char16_t* out = text.GetBuffer(static_cast<int>(count));
    for (size_t i = 0; i < count; ++i) out[i] = UnitAt(data, i);
    text.ReleaseBuffer(static_cast<int>(count));
    return text;
}

size_t UnitsBeforeNul(const uint8_t* data, size_t units) {
    size_t n = 0;
    while (n < units && UnitAt(data, n) != 0) ++n;
    return n;
}

size_t UnitsWithoutTrailingNuls(const uint8_t* data, size_t units) {
    while (units > 0 && UnitAt(data, units - 1) == 0) --units;
    return units;
}

bool IsString(uint32_t type) { return type == kRegString || type == kRegExpandString; }

}  // namespace

bool DecodeValueText(uint32_t type, const uint8_t* data, size_t size, WString* text) {
    if (IsString(type) || type == kRegMultiString) {
        *text = Units(data, UnitsWithoutTrailingNuls(data, size / 2));
        return true;
    }
    if (type == kRegDword && size >= 4) {
        uint32_t value = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
                         (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
        text->Clear();
        text->AppendUnsigned(value);
        return true;
    }
    return false;
}

bool DecodeStringValue(uint32_t type, const uint8_t* data, size_t size, bool multiString, WString* text) {
    if (multiString ? type != kRegMultiString : !IsString(type)) return false;
    const size_t units = size / 2;
    *text = Units(data, multiString ? UnitsWithoutTrailingNuls(data, units) : UnitsBeforeNul(data, units));
    return true;
}

WString DecodeRawText(const uint8_t* data, size_t size) { return Units(data, UnitsBeforeNul(data, size / 2)); }
