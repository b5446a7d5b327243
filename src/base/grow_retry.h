// The recurring chore of system queries: ask with a buffer, and when the
// answer does not fit, grow the buffer and ask again. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/fatal.h"

enum class QueryStep {
    kDone,    // the answer fitted
    kGrow,    // the buffer was too small: ask again with a larger one
    kFailed,  // the query failed; asking again would not help
};

// Runs attempt(size, &needed) with size = firstSize, then, while it answers
// kGrow, again with the size it put into needed when that is larger than the
// last size, or else with twice the last size. At most `tries` attempts in
// all; 0 tries means no limit. The unit of the sizes is the attempt's own
// (bytes or characters). True when the last attempt answered kDone.
template <typename Attempt>
[[nodiscard]] bool GrowAndRetry(uint32_t firstSize, int tries, Attempt attempt) {
    uint32_t size = firstSize;
    for (int done = 0; tries == 0 || done < tries; ++done) {
        uint32_t needed = 0;
        switch (attempt(size, &needed)) {
            case QueryStep::kDone:
                return true;
            case QueryStep::kFailed:
                return false;
            case QueryStep::kGrow:
                break;
        }
        if (needed > size) {
            size = needed;
        } else {
            if (size > UINT32_MAX / 2) return false;  // cannot grow further
            size = size ? size * 2 : 1;
        }
    }
    return false;
}

// The raw memory of the attempts, freed with its owner. A larger request
// replaces the block (its contents are not kept); an exhausted heap ends the
// process, as it does for strings.
class QueryBuffer {
public:
    QueryBuffer() {}
    ~QueryBuffer() { MemFree(data_); }
    QueryBuffer(const QueryBuffer&) = delete;
    QueryBuffer& operator=(const QueryBuffer&) = delete;
    uint8_t* Reserve(size_t bytes) {
        if (!data_ || bytes > capacity_) {
            MemFree(data_);
            data_ = static_cast<uint8_t*>(MemAlloc(bytes));
            if (!data_) RaiseFailure(kHrOutOfMemory);
            capacity_ = bytes;
        }
        return data_;
    }
    const uint8_t* Data() const { return data_; }

private:
    uint8_t* data_ = nullptr;
    size_t capacity_ = 0;
};
