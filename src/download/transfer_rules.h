// Text rules of file transfers that need no network: credential decoding,
// reply codes, ranges, target paths and the reconnection stall guard.
// Portable.
#pragma once

#include <stdint.h>

#include "base/wstr.h"

// "%" followed by two hexadecimal digits becomes the character with that
// code (0..255); any other percent sign stays as it is.
WString PercentDecode(const WString& text);

// The decimal number at the start of a server reply (leading blanks
// skipped); 0 when there is none.
uint32_t LeadingReplyCode(const WString& reply);

// Parses a Content-Range value "bytes <first>-<last>/<total>". first is
// set when the range is well formed; total is 0 when the server wrote "*".
bool ParseContentRange(const WString& value, uint32_t* first, uint32_t* total);

// A target must be absolute: "X:..." or a path beginning with two backslashes.
bool IsAbsoluteTargetPath(const WString& path);

// Counts reconnections that brought no new byte. A transfer whose server
// keeps closing the connection without sending anything would otherwise
// reconnect forever.
class ReconnectStallGuard {
public:
    static constexpr int kMaxStalledReconnects = 6;
    explicit ReconnectStallGuard(uint32_t startSize) : lastSize_(startSize) {}
    // Called at each reconnection with the part file's size; false when the
    // previous kMaxStalledReconnects reconnections in a row added nothing.
    bool MayReconnect(uint32_t partSize);

private:
    uint32_t lastSize_;
    bool first_ = true;
    int stalled_ = 0;
};
