// The part the Merkle–Damgård hashes share: 64-byte blocks gathered from
// pieces of any length, and the final padding with the bit count in 8 bytes.
// Derived supplies Transform(const uint8_t block[64]). Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

template <typename Derived>
class BlockHash {
public:
    void Update(const void* data, size_t length) {
        const uint8_t* in = static_cast<const uint8_t*>(data);
        const size_t used = static_cast<size_t>((bitCount_ >> 3) & 63);
        bitCount_ += static_cast<uint64_t>(length) << 3;
        if (used) {
            const size_t room = 64 - used;
            if (length < room) {
                memcpy(buffer_ + used, in, length);
                return;
            }
            memcpy(buffer_ + used, in, room);
            Self().Transform(buffer_);
            in += room;
            length -= room;
        }
        while (length >= 64) {
            Self().Transform(in);
            in += 64;
            length -= 64;
        }
        if (length) memcpy(buffer_, in, length);
    }

protected:
    void ResetCount() { bitCount_ = 0; }
    // Appends 0x80, zeros and the message's bit count, least significant
    // byte first or most significant first.
    void Pad(bool bigEndianCount) {
        const uint64_t bits = bitCount_;
        uint8_t tail[72];
        const size_t used = static_cast<size_t>((bits >> 3) & 63);
        const size_t padding = (used < 56) ? 56 - used : 120 - used;
        memset(tail, 0, sizeof tail);
        tail[0] = 0x80;
        for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<uint8_t>(bits >> (bigEndianCount ? 56 - 8 * i : 8 * i));
        Update(tail, padding + 8);
    }

private:
    Derived& Self() { return static_cast<Derived&>(*this); }
    uint64_t bitCount_ = 0;
    uint8_t buffer_[64];
};
