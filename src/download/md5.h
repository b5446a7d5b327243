// MD5 message digest (RFC 1321), computed by the system itself. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

class Md5 {
public:
    Md5() { Reset(); }
    void Reset();
    void Update(const void* data, size_t length);
    // Writes the 16 digest bytes; the object must be Reset before reuse.
    void Finish(uint8_t digest[16]);

private:
    void Transform(const uint8_t block[64]);
    uint32_t state_[4];
    uint64_t bitCount_;
    uint8_t buffer_[64];
};

// Writes 2 * bytes lowercase hexadecimal digits and a terminating NUL.
void DigestToHex(const uint8_t* digest, int bytes, char16_t* out);
// True when the first digits characters of expected equal the lowercase
// digest text, an uppercase A-F counting as its lowercase form.
bool DigestDigitsMatch(const char16_t* expected, const char16_t* digest, int digits);

// Writes 32 lowercase hexadecimal digits and a terminating NUL into out
// (33 units).
void Md5DigestToHex(const uint8_t digest[16], char16_t out[33]);

// True when the first 32 characters of expected equal the lowercase digest
// text, an uppercase A-F in expected counting as its lowercase form.
// Characters after the 32nd are not looked at; a shorter text never matches.
bool DigestTextMatches(const char16_t* expected, int expectedLength, const char16_t digest[33]);
