#include "download/md5.h"

#include <string.h>

namespace {

// Per-round shift amounts and the sine-derived constants of the algorithm.
const uint8_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline uint32_t RotateLeft(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

void Md5::Reset() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    bitCount_ = 0;
}

// One step of a round: a = b + ((a + f(b, c, d) + message word + constant) <<< shift).
// The four rounds are written out step by step so that every message index,
// constant and shift is a compile-time value.
#define MD5_STEP(f, a, b, c, d, i, g)                                      \
    a += f(b, c, d) + m[g] + kSine[i];                                     \
    a = RotateLeft(a, kShift[i]) + b

#define MD5_F(x, y, z) (z ^ (x & (y ^ z)))
#define MD5_G(x, y, z) (y ^ (z & (x ^ y)))
#define MD5_H(x, y, z) (x ^ y ^ z)
#define MD5_I(x, y, z) (y ^ (x | ~z))

// Four steps with the variables rotated, as every round is laid out.
#define MD5_FOUR(f, i, g0, g1, g2, g3)          \
    MD5_STEP(f, a, b, c, d, i, g0);             \
    MD5_STEP(f, d, a, b, c, i + 1, g1);         \
    MD5_STEP(f, c, d, a, b, i + 2, g2);         \
    MD5_STEP(f, b, c, d, a, i + 3, g3)

void Md5::Transform(const uint8_t block[64]) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) {
        m[i] = static_cast<uint32_t>(block[i * 4]) | (static_cast<uint32_t>(block[i * 4 + 1]) << 8) |
               (static_cast<uint32_t>(block[i * 4 + 2]) << 16) | (static_cast<uint32_t>(block[i * 4 + 3]) << 24);
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    // Round 1: message words in order.
    MD5_FOUR(MD5_F, 0, 0, 1, 2, 3);
    MD5_FOUR(MD5_F, 4, 4, 5, 6, 7);
    MD5_FOUR(MD5_F, 8, 8, 9, 10, 11);
    MD5_FOUR(MD5_F, 12, 12, 13, 14, 15);
    // Round 2: word (5i + 1) mod 16.
    MD5_FOUR(MD5_G, 16, 1, 6, 11, 0);
    MD5_FOUR(MD5_G, 20, 5, 10, 15, 4);
    MD5_FOUR(MD5_G, 24, 9, 14, 3, 8);
    MD5_FOUR(MD5_G, 28, 13, 2, 7, 12);
    // Round 3: word (3i + 5) mod 16.
    MD5_FOUR(MD5_H, 32, 5, 8, 11, 14);
    MD5_FOUR(MD5_H, 36, 1, 4, 7, 10);
    MD5_FOUR(MD5_H, 40, 13, 0, 3, 6);
    MD5_FOUR(MD5_H, 44, 9, 12, 15, 2);
    // Round 4: word 7i mod 16.
    MD5_FOUR(MD5_I, 48, 0, 7, 14, 5);
    MD5_FOUR(MD5_I, 52, 12, 3, 10, 1);
    MD5_FOUR(MD5_I, 56, 8, 15, 6, 13);
    MD5_FOUR(MD5_I, 60, 4, 11, 2, 9);
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

#undef MD5_FOUR
#undef MD5_STEP
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

void Md5::Update(const void* data, size_t length) {
    const uint8_t* in = static_cast<const uint8_t*>(data);
    size_t used = static_cast<size_t>((bitCount_ >> 3) & 63);
    bitCount_ += static_cast<uint64_t>(length) << 3;
    if (used) {
        size_t room = 64 - used;
        if (length < room) {
            memcpy(buffer_ + used, in, length);
            return;
        }
        memcpy(buffer_ + used, in, room);
        Transform(buffer_);
        in += room;
        length -= room;
    }
    while (length >= 64) {
        Transform(in);
        in += 64;
        length -= 64;
    }
    if (length) memcpy(buffer_, in, length);
}

void Md5::Finish(uint8_t digest[16]) {
    uint64_t bits = bitCount_;
    uint8_t tail[72];
    size_t used = static_cast<size_t>((bits >> 3) & 63);
    size_t padding = (used < 56) ? 56 - used : 120 - used;
    memset(tail, 0, sizeof tail);
    tail[0] = 0x80;
    for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<uint8_t>(bits >> (8 * i));
    Update(tail, padding + 8);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) digest[i * 4 + j] = static_cast<uint8_t>(state_[i] >> (8 * j));
    }
}

void DigestToHex(const uint8_t* digest, int bytes, char16_t* out) {
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < bytes; ++i) {
        out[i * 2] = static_cast<char16_t>(kHex[digest[i] >> 4]);
        out[i * 2 + 1] = static_cast<char16_t>(kHex[digest[i] & 15]);
    }
    out[bytes * 2] = 0;
}

bool DigestDigitsMatch(const char16_t* expected, const char16_t* digest, int digits) {
    for (int i = 0; i < digits; ++i) {
        char16_t c = expected[i];
        if (c >= u'A' && c <= u'F') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != digest[i]) return false;
    }
    return true;
}

void Md5DigestToHex(const uint8_t digest[16], char16_t out[33]) { DigestToHex(digest, 16, out); }

bool DigestTextMatches(const char16_t* expected, int expectedLength, const char16_t digest[33]) {
    return expectedLength >= 32 && DigestDigitsMatch(expected, digest, 32);
}
