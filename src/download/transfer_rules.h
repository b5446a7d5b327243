// Rules of file transfers that need no network: credential decoding, reply
// codes, ranges, what an HTTP answer means, target paths and the
// reconnection stall guard.
// Portable.
#pragma once

#include <stdint.h>

#include "base/wstr.h"
#include "download/result_codes.h"

// "%" followed by two hexadecimal digits becomes the character with that
// code (0..255); any other percent sign stays as it is.
WString PercentDecode(const WString& text);

// The decimal number at the start of a server reply (leading blanks
// skipped); 0 when there is none.
uint32_t LeadingReplyCode(const WString& reply);

// The size in an FTP reply "213 <size>"; 0 when the reply is another or
// carries no plain number.
uint64_t FtpSizeReplyValue(const WString& reply);

// A Content-Range value: "bytes <first>-<last>/<total>" (total "*" gives 0)
// or, with an answer 416, "bytes */<total>" (unsatisfied).
struct ContentRange {
    bool valid = false;        // a well-formed range of bytes
    bool unsatisfied = false;  // the "*/<total>" form; total is set
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t total = 0;
};
ContentRange ParseContentRange(const WString& value);

// A Content-Length value; 0 when absent or malformed, the largest value
// when it does not fit in 63 bits.
uint64_t ContentLengthValue(const WString& value);

// Seconds of a Retry-After value in its number form; -1 for a date, an
// empty or a malformed value.
int64_t RetryAfterSeconds(const WString& value);

// The largest file a transfer holds: sizes are 32-bit.
constexpr uint64_t kLargestFile = 0xFFFFFFFFull;

// The server's answer to one HTTP request, as far as the transfer judges it.
struct HttpAnswer {
    uint32_t status = 0;     // 0 when none could be read
    uint32_t sendError = 0;  // error of the send; 0 when it went through
    uint64_t length = 0;     // Content-Length; 0 when absent
    uint32_t bytesHeld = 0;  // the part file the request continues; a Range was sent when nonzero
    uint32_t knownTotal = 0; // the whole size an earlier answer of this transfer gave; 0 = unknown
    ContentRange range;      // Content-Range
    bool ifRange = false;    // an If-Range went with the Range
};

enum class HttpStep {
    Receive,       // read the body into the part file (total, bytesHeld)
    PartComplete,  // the part file already holds the whole file (total)
    RequestWhole,  // ask again for the whole file, without Range
    SendError,     // the send failed: code (a certificate question or the result)
    Credentials,   // 401 or 407: the credential question
    RetryLater,    // 408, 429 or 5xx: the server may answer after a pause
    Fail,          // code is the result
};

struct HttpDecision {
    HttpStep step = HttpStep::Fail;
    uint32_t code = 0;
    uint32_t total = 0;      // 0 = unknown
    uint32_t bytesHeld = 0;  // what the part file keeps: 0 recreates it
    uint32_t pieceEnd = 0;   // a 206 ends its body here (its last byte + 1); 0 = at the total
    // A 200 answered an If-Range: the file changed on the server and the
    // part file starts afresh with this answer.
    bool changed = false;
};

HttpDecision ClassifyHttpAnswer(const HttpAnswer& answer);

// What tells that a part file still belongs to the file on the server: the
// validator of the answer that began it, sent back as If-Range when it is
// resumed. A strong ETag ("..." without W/) is kept, otherwise a
// Last-Modified date; a weak ETag alone keeps nothing.
enum class ValidatorKind { None, ETag, LastModified };
struct Validator {
    ValidatorKind kind = ValidatorKind::None;
    WString value;
};
// The validator to keep of an answer's ETag and Last-Modified values (either
// may be empty); None when neither is usable.
Validator ChooseValidator(const WString& etag, const WString& lastModified);
// The validator file beside the part file: two ASCII lines, the kind
// ("ETag" or "Last-Modified") and the value, each ended by CR LF.
constexpr uint32_t kValidatorFileLimit = 1024;
// Writes the file's bytes into out; their count, 0 for None or a text that
// would not fit kValidatorFileLimit.
uint32_t ValidatorFileBytes(const Validator& validator, uint8_t (&out)[kValidatorFileLimit]);
// The validator a file's bytes hold; None for anything malformed, of another
// kind or larger than kValidatorFileLimit.
Validator ParseValidatorFile(const uint8_t* bytes, uint32_t size);
// The request header that makes a range request conditional on the
// validator ("If-Range: <value>" and CR LF); empty for None.
WString IfRangeHeader(const Validator& validator);

// How a body that stopped coming ends the piece it belonged to.
enum class BodyEnd {
    Complete,     // the part file holds the whole file
    RequestRest,  // a narrower 206 ended where it said: ask for the rest
    EarlyClose,   // the connection ended (or broke) before the announced end: resume
    Overrun,      // more bytes than the file has: the part file is not the file, start again
};
// held: the part file's size; total and pieceEnd as decided for the answer
// (0 unknown); broken: the connection failed rather than ended cleanly. A
// body of unknown length ends cleanly only at its end; a break is never
// taken for the end of the file.
BodyEnd JudgeBodyEnd(uint64_t held, uint32_t total, uint32_t pieceEnd, bool broken);

// An https request whose answer came from an http URL (WinINet followed a
// redirect): the bytes are then only as safe as the hash that checks them.
enum class Downgrade {
    None,      // the request stayed on its scheme, or was never https
    Verified,  // https to http, followed: an MD5 or SHA256 checks the file
    Refused,   // https to http with nothing to check the file: not followed
};
Downgrade JudgeDowngrade(const WString& requestedUrl, const WString& finalUrl, bool verifiable);

// The pause before resuming after a connection that ended early: it grows
// with the number of resumptions in a row that brought nothing new.
constexpr uint32_t kResumePauseMs = 100;
uint32_t ResumePauseMs(int fruitlessInARow);

// Answers 408, 429 and 5xx are retried this many times, after a pause that
// grows from kServerRetryPauseMs and doubles; a Retry-After of at most
// kMaxRetryAfterSeconds is honoured instead.
constexpr int kServerRetries = 3;
constexpr uint32_t kServerRetryPauseMs = 500;
constexpr int64_t kMaxRetryAfterSeconds = 10;
// The pause before retry number attempt (0 for the first).
uint32_t ServerRetryPauseMs(int attempt, const WString& retryAfter);

// A target must be absolute: "X:..." or a path beginning with two backslashes.
bool IsAbsoluteTargetPath(const WString& path);

// Counts reconnections that brought no new byte. A transfer whose server
// keeps closing the connection without sending anything would otherwise
// reconnect forever.
class ReconnectStallGuard {
public:
    static constexpr int kMaxStalledReconnects = 6;
    // A connection that stalled has waited the whole no-data limit already:
    // a series of stalls without a new byte is resumed only this often.
    static constexpr int kMaxStallResumes = 2;
    explicit ReconnectStallGuard(uint32_t startSize) : lastSize_(startSize) {}
    // Called at each reconnection with the part file's size; false when the
    // previous kMaxStalledReconnects reconnections in a row added nothing.
    bool MayReconnect(uint32_t partSize);
    // Reconnections in a row that added nothing so far.
    int FruitlessInARow() const { return stalled_; }

private:
    uint32_t lastSize_;
    bool first_ = true;
    int stalled_ = 0;
};
