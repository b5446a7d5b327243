#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "download/md5.h"
#include "download/sha256.h"

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

std::u16string Sha256HexOf(const void* data, size_t length, size_t piece) {
    Sha256 sha;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    for (size_t at = 0; at < length; at += piece) sha.Update(bytes + at, length - at < piece ? length - at : piece);
    uint8_t digest[32];
    sha.Finish(digest);
    char16_t hex[65];
    Sha256DigestToHex(digest, hex);
    return hex;
}

// The standard's examples, lengths around the padding boundary and a
// million bytes, each hashed in one piece and in pieces of 1 and 7 bytes.
TEST(Sha256, ReferenceVectors) {
    struct Text {
        const char* input;
        const char16_t* digest;
    } texts[] = {
        {"", u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", u"248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu", u"cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    };
    struct Run {
        size_t length;
        const char16_t* digest;
    } runs[] = {
        {55, u"9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {56, u"b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {57, u"f13b2d724659eb3bf47f2dd6af1accc87b81f09f59f2b75e5c0bed6589dfe8c6"},
        {63, u"7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {64, u"ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {65, u"635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {119, u"31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {120, u"2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
        {1000000, u"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (size_t piece : {size_t(1) << 30, size_t(1), size_t(7)}) {
        for (const auto& c : texts) EXPECT_EQ(Sha256HexOf(c.input, strlen(c.input), piece), c.digest) << c.input;
        for (const auto& c : runs) {
            if (piece == 1 && c.length > 1000) continue;
            std::string input(c.length, 'a');
            EXPECT_EQ(Sha256HexOf(input.data(), input.size(), piece), c.digest) << c.length << " in " << piece;
        }
    }
}

TEST(Sha256, DigestTextComparison) {
    const char16_t digest[65] = u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    struct Case {
        const char16_t* expected;
        bool matches;
    } cases[] = {
        {u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", true},
        {u"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", true},
        {u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad0", false},  // exactly 64 digits
        {u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015a", false},
        {u"", false},
        {u"a52d159f262b2c6ddb724a61840befc36eb30c88877a4030b65cbe86298449c9", false},
    };
    for (const auto& c : cases) {
        int length = 0;
        while (c.expected[length]) ++length;
        EXPECT_EQ(Sha256TextMatches(c.expected, length, digest), c.matches) << length;
    }
}

}  // namespace
