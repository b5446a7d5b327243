#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "download/md5.h"

namespace {

std::u16string HexOf(const void* data, size_t length) {
    Md5 md5;
    md5.Update(data, length);
    uint8_t digest[16];
    md5.Finish(digest);
    char16_t hex[33];
    Md5DigestToHex(digest, hex);
    return hex;
}

std::u16string HexOf(const char* text) { return HexOf(text, strlen(text)); }

TEST(Md5, ReferenceSuite) {
    struct Case {
        const char* input;
        const char16_t* digest;
    } cases[] = {
        {"", u"d41d8cd98f00b204e9800998ecf8427e"},
        {"a", u"0cc175b9c0f1b6a831c399e269772661"},
        {"abc", u"900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", u"f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", u"c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", u"d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         u"57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(HexOf(c.input), c.digest) << c.input;
}

// Lengths around the padding boundary (55/56/63/64 bytes) are where a
// padding or length-encoding mistake shows.
TEST(Md5, PaddingBoundaries) {
    struct Case {
        size_t length;
        const char16_t* digest;
    } cases[] = {
        {55, u"ef1772b6dff9a122358552954ad0df65"},
        {56, u"3b0c8ac703f828b04c6c197006d17218"},
        {57, u"652b906d60af96844ebd21b674f35e93"},
        {63, u"b06521f39153d618550606be297466d5"},
        {64, u"014842d480b571495a4a0363793f7367"},
        {65, u"c743a45e0d2e6a95cb859adae0248435"},
    };
    for (const auto& c : cases) {
        std::string input(c.length, 'a');
        EXPECT_EQ(HexOf(input.data(), input.size()), c.digest) << c.length;
    }
}

TEST(Md5, MillionA) {
    std::string input(1000000, 'a');
    EXPECT_EQ(HexOf(input.data(), input.size()), u"7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, PiecewiseUpdateEqualsOneShot) {
    std::string input;
    for (int i = 0; i < 300; ++i) input += static_cast<char>(i * 7 + 3);
    const std::u16string whole = HexOf(input.data(), input.size());
    for (size_t split = 0; split <= input.size(); ++split) {
        for (size_t step : {1u, 63u, 64u, 65u}) {
            Md5 md5;
            md5.Update(input.data(), split);
            for (size_t at = split; at < input.size(); at += step) {
                size_t n = input.size() - at < step ? input.size() - at : step;
                md5.Update(input.data() + at, n);
            }
            uint8_t digest[16];
            md5.Finish(digest);
            char16_t hex[33];
            Md5DigestToHex(digest, hex);
            ASSERT_EQ(std::u16string(hex), whole) << split << " " << step;
        }
    }
}

TEST(Md5, ResetStartsAgain) {
    Md5 md5;
    md5.Update("garbage", 7);
    md5.Reset();
    md5.Update("abc", 3);
    uint8_t digest[16];
    md5.Finish(digest);
    char16_t hex[33];
    Md5DigestToHex(digest, hex);
    EXPECT_EQ(std::u16string(hex), u"900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace

namespace {

TEST(Md5, DigestTextComparison) {
    const char16_t digest[33] = u"900150983cd24fb0d6963f7d28e17f72";
    struct Case {
        const char16_t* expected;
        bool matches;
    } cases[] = {
        {u"900150983cd24fb0d6963f7d28e17f72", true},
        {u"900150983CD24FB0D6963F7D28E17F72", true},   // uppercase A-F accepted
        {u"900150983cd24fb0d6963f7d28e17f72x", true},  // characters after the 32nd ignored
        {u"900150983cd24fb0d6963f7d28e17f72 trailing", true},
        {u"900150983cd24fb0d6963f7d28e17f7", false},   // one short
        {u"", false},
        {u"900150983cd24fb0d6963f7d28e17f73", false},
        {u"a00150983cd24fb0d6963f7d28e17f72", false},
        {u"900150983cd24fb0d6963f7d28e17f7G", false},  // only A-F fold
    };
    for (const auto& c : cases) {
        int length = 0;
        while (c.expected[length]) ++length;
        EXPECT_EQ(DigestTextMatches(c.expected, length, digest), c.matches) << length;
    }
}

}  // namespace
