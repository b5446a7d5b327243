#include <gtest/gtest.h>

#include <string>

#include "base/wstr.h"
#include "platform/registry_value.h"

namespace {

// Registry data as the system returns it: UTF-16LE units, or raw bytes.
std::string Bytes(const char16_t* units, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += static_cast<char>(units[i] & 0xFF);
        out += static_cast<char>(units[i] >> 8);
    }
    return out;
}

const uint8_t* Data(const std::string& bytes) { return reinterpret_cast<const uint8_t*>(bytes.data()); }

const uint32_t kRegBinary = 3;

TEST(RegistryValue, DecodersOfEveryRule) {
    const std::string ab = Bytes(u"ab\0\0", 4);
    const std::string inner = Bytes(u"a\0b\0\0", 5);
    const std::string wide = Bytes(u"\x00e9\x4e2d", 2);
    const std::string odd = Bytes(u"ab", 2) + "c";
    const std::string dword("\x2a\x01\x00\x80", 4);
    struct Row {
        const char* what;
        uint32_t type;
        const std::string* data;
        bool decodes;          // DecodeValueText answers true
        const char16_t* text;  // and this text (inner NULs shown as '|')
        bool stringDecodes;    // DecodeStringValue, single string
        const char16_t* stringText;
        bool multiDecodes;     // DecodeStringValue, multi-string
        const char16_t* multiText;
        const char16_t* raw;   // DecodeRawText
    } rows[] = {
        {"REG_SZ with trailing NULs", kRegString, &ab, true, u"ab", true, u"ab", false, u"", u"ab"},
        {"REG_EXPAND_SZ", kRegExpandString, &ab, true, u"ab", true, u"ab", false, u"", u"ab"},
        {"REG_MULTI_SZ keeps inner NULs", kRegMultiString, &inner, true, u"a|b", false, u"", true, u"a|b", u"a"},
        {"REG_SZ with an inner NUL", kRegString, &inner, true, u"a|b", true, u"a", false, u"", u"a"},
        {"units above ASCII", kRegString, &wide, true, u"\x00e9\x4e2d", true, u"\x00e9\x4e2d", false, u"", u"\x00e9\x4e2d"},
        {"odd last byte ignored", kRegString, &odd, true, u"ab", true, u"ab", false, u"", u"ab"},
        {"REG_DWORD little-endian unsigned", kRegDword, &dword, true, u"2147483946", false, u"", false, u"", u"\x012a\x8000"},
        {"REG_BINARY", kRegBinary, &ab, false, u"", false, u"", false, u"", u"ab"},
    };
    for (const Row& row : rows) {
        const size_t size = row.data->size();
        WString text(u"untouched");
        EXPECT_EQ(DecodeValueText(row.type, Data(*row.data), size, &text), row.decodes) << row.what;
        auto shown = [](const WString& s) {
            WString out;
            for (int i = 0; i < s.Length(); ++i) out.Append(s[i] ? s[i] : u'|');
            return out;
        };
        if (row.decodes) {
            EXPECT_TRUE(shown(text) == row.text) << row.what;
        }
        WString single, multi;
        EXPECT_EQ(DecodeStringValue(row.type, Data(*row.data), size, false, &single), row.stringDecodes) << row.what;
        EXPECT_TRUE(shown(single) == row.stringText) << row.what;
        EXPECT_EQ(DecodeStringValue(row.type, Data(*row.data), size, true, &multi), row.multiDecodes) << row.what;
        EXPECT_TRUE(shown(multi) == row.multiText) << row.what;
        EXPECT_TRUE(DecodeRawText(Data(*row.data), size) == row.raw) << row.what;
    }
    // A DWORD shorter than 4 bytes is not a number; empty data is empty text.
    WString text;
    EXPECT_FALSE(DecodeValueText(kRegDword, Data(dword), 3, &text));
    EXPECT_TRUE(DecodeValueText(kRegString, nullptr, 0, &text) && text.IsEmpty());
    EXPECT_TRUE(DecodeRawText(nullptr, 0).IsEmpty());
}

}  // namespace
