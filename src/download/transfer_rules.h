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

// Sizes are 64-bit from the INI to the disk. The largest file a transfer
// takes (a file offset is a signed 64-bit number); a size read from a server
// whose digits pass it reads as kBeyondAnyFile, which no file has.
constexpr uint64_t kLargestFile = 0x7FFFFFFFFFFFFFFFull;
constexpr uint64_t kBeyondAnyFile = 0xFFFFFFFFFFFFFFFFull;

// The size in an FTP reply "213 <size>"; 0 when the reply is another or
// carries no plain number, kBeyondAnyFile when it does not fit 63 bits.
uint64_t FtpSizeReplyValue(const WString& reply);

// A Content-Range value: "bytes <first>-<last>/<total>" (total "*" gives 0)
// or, with an answer 416, "bytes */<total>" (unsatisfied). Values beyond
// kLargestFile make it malformed.
struct ContentRange {
    bool valid = false;        // a well-formed range of bytes
    bool unsatisfied = false;  // the "*/<total>" form; total is set
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t total = 0;
};
ContentRange ParseContentRange(const WString& value);

// A Content-Length value; 0 when absent or malformed, kBeyondAnyFile when it
// does not fit 63 bits.
uint64_t ContentLengthValue(const WString& value);

// Seconds of a Retry-After value in its number form; -1 for a date, an
// empty or a malformed value.
int64_t RetryAfterSeconds(const WString& value);

// Redirects (301, 302, 303, 307 and 308 with a Location) are followed by the
// transfer itself, WinINet being told not to: each hop is judged (https to
// http, other schemes) and counted, and a request redirected more often
// than browsers allow is a loop that ends with E_DL_REDIRECT_LOOP.
constexpr uint32_t kMaxRedirects = 20;
bool IsRedirectStatus(uint32_t status);

// The server's answer to one HTTP request, as far as the transfer judges it.
struct HttpAnswer {
    uint32_t status = 0;     // 0 when none could be read
    uint32_t sendError = 0;  // error of the send; 0 when it went through
    uint64_t length = 0;     // Content-Length; 0 when absent
    uint64_t bytesHeld = 0;  // the part file the request continues (a Range was sent from it)
    uint64_t knownTotal = 0; // the whole size an earlier answer of this transfer gave; 0 = unknown
    ContentRange range;      // Content-Range
    bool ifRange = false;    // an If-Range went with the Range
    // The request asks where the file ends: the body of this transfer came
    // without a length and stopped at bytesHeld (a Range was sent, also from
    // byte 0). Only an answer that tells the file's size ends it there.
    bool proving = false;
};

enum class HttpStep {
    Receive,       // read the body into the part file (total, bytesHeld)
    PartComplete,  // the part file already holds the whole file (total)
    RequestWhole,  // ask again for the whole file, without Range
    SendError,     // the send failed: code (a certificate question or the result)
    Credentials,   // 401 or 407: the credential question
    RetryLater,    // 408, 429 or 5xx: the server may answer after a pause
    // The answer settles nothing (the server closed without answering, or a
    // proof proved nothing): resumed like a broken connection, the part file
    // kept as it is.
    Resume,
    Fail,          // code is the result
};

struct HttpDecision {
    HttpStep step = HttpStep::Fail;
    uint32_t code = 0;
    uint64_t total = 0;      // 0 = unknown
    uint64_t bytesHeld = 0;  // what the part file keeps: 0 recreates it
    uint64_t pieceEnd = 0;   // a 206 ends its body here (its last byte + 1); 0 = at the total
    // A 200 answered an If-Range: the file changed on the server and the
    // part file starts afresh with this answer.
    bool changed = false;
};

HttpDecision ClassifyHttpAnswer(const HttpAnswer& answer);

// What an FTP request does with the size the server answered to SIZE
// (serverSize, 0 when it told none) for a part file of held bytes: knownTotal
// and proving as for HTTP.
enum class FtpStep {
    Receive,       // open the file; from bytesHeld with REST when rest is set
    PartComplete,  // the part file holds the whole file (total)
    Resume,        // nothing tells where the file ends: resumed like a broken connection
    Fail,          // code is the result
};
struct FtpDecision {
    FtpStep step = FtpStep::Fail;
    uint32_t code = 0;
    uint64_t total = 0;      // 0 = unknown
    uint64_t bytesHeld = 0;  // what the part file keeps: 0 recreates it
    bool rest = false;       // REST bytesHeld is sent before the file is opened
};
FtpDecision ClassifyFtpSize(uint64_t serverSize, uint64_t held, uint64_t knownTotal, bool proving);

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
// ("ETag" or "Last-Modified") and the value, each ended by CR LF. One rule
// for both ways: a file is read as a validator only when it holds exactly
// the bytes that validator is written as.
constexpr uint32_t kValidatorFileLimit = 1024;
// Writes the file's bytes into out; their count, 0 for None or a text that
// would not fit kValidatorFileLimit.
uint32_t ValidatorFileBytes(const Validator& validator, uint8_t (&out)[kValidatorFileLimit]);
// The validator a file's bytes hold; None for anything else (malformed, of
// another kind, other line ends, larger than kValidatorFileLimit).
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
    // The body ended cleanly, and nothing told its length: it is the file's
    // end only once that is proven (a digest of the bytes, or the server's
    // answer to the question where the file ends).
    Unproven,
};
// held: the part file's size; total and pieceEnd as decided for the answer
// (0 unknown; ExactSize stands for an untold total); broken: the connection
// failed rather than ended cleanly. A break is never taken for the end of
// the file, and a clean end only when the total says so.
BodyEnd JudgeBodyEnd(uint64_t held, uint64_t total, uint64_t pieceEnd, bool broken);

// Whether the target's volume takes the rest of a file of total bytes
// (0 unknown) whose part file holds held bytes: freeBytes is what the volume
// still gives this user, largestFile the largest file its file system holds.
enum class VolumeRoom {
    Fits,
    FileTooLarge,  // the file system holds no file this large (or no volume does)
    Full,          // too little free space for the bytes still to come
};
VolumeRoom JudgeVolumeRoom(uint64_t total, uint64_t held, uint64_t freeBytes, uint64_t largestFile);
// The largest file a file system holds by its name ("NTFS", "FAT32", ...):
// FAT volumes hold files below 4 GiB; others are not limited here.
uint64_t LargestFileOn(const WString& fileSystem);

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
    explicit ReconnectStallGuard(uint64_t startSize) : lastSize_(startSize) {}
    // Called at each reconnection with the part file's size; false when the
    // previous kMaxStalledReconnects reconnections in a row added nothing.
    bool MayReconnect(uint64_t partSize);
    // Reconnections in a row that added nothing so far.
    int FruitlessInARow() const { return stalled_; }

private:
    uint64_t lastSize_;
    bool first_ = true;
    int stalled_ = 0;
};
