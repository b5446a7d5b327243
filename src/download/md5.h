// MD5 message digest (RFC 1321), computed by the system itself. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "download/block_hash.h"

class Md5 : public BlockHash<Md5> {
public:
    Md5() { Reset(); }
    void Reset();
    // Writes the 16 digest bytes; the object must be Reset before reuse.
    void Finish(uint8_t digest[16]);

private:
    friend class BlockHash<Md5>;
    void Transform(const uint8_t block[64]);
    uint32_t state_[4];
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
