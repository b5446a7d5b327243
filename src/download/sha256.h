// SHA-256 message digest (FIPS 180-4), computed by the system itself.
// Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

class Sha256 {
public:
    Sha256() { Reset(); }
    void Reset();
    void Update(const void* data, size_t length);
    // Writes the 32 digest bytes; the object must be Reset before reuse.
    void Finish(uint8_t digest[32]);

private:
    void Transform(const uint8_t block[64]);
    uint32_t state_[8];
    uint64_t bitCount_;
    uint8_t buffer_[64];
};

// Writes 64 lowercase hexadecimal digits and a terminating NUL (65 units).
void Sha256DigestToHex(const uint8_t digest[32], char16_t out[65]);

// True when expected is exactly 64 hexadecimal digits, in either case, that
// equal the lowercase digest text.
bool Sha256TextMatches(const char16_t* expected, int expectedLength, const char16_t digest[65]);
