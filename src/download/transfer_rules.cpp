#include "download/transfer_rules.h"

#include "platform/path_rules.h"

namespace {

// Reads an unsigned decimal number at position; false when there is no digit
// or it does not fit in limit.
bool ReadUnsigned64(const WString& text, int* position, uint64_t limit, uint64_t* value) {
    int i = *position;
    uint64_t v = 0;
    int digits = 0;
    while (i < text.Length() && text[i] >= u'0' && text[i] <= u'9') {
        const uint64_t digit = static_cast<uint64_t>(text[i] - u'0');
        if (v > (limit - digit) / 10) return false;
        v = v * 10 + digit;
        ++i;
        ++digits;
    }
    if (!digits) return false;
    *position = i;
    *value = v;
    return true;
}

// A size a server tells: digits that pass kLargestFile read as
// kBeyondAnyFile; false when there is no digit.
bool ReadSize(const WString& text, int* position, uint64_t* value) {
    if (ReadUnsigned64(text, position, kLargestFile, value)) return true;
    int i = *position;
    if (i >= text.Length() || text[i] < u'0' || text[i] > u'9') return false;
    while (i < text.Length() && text[i] >= u'0' && text[i] <= u'9') ++i;
    *position = i;
    *value = kBeyondAnyFile;
    return true;
}

bool ReadUnsigned(const WString& text, int* position, uint32_t* value) {
    uint64_t v = 0;
    if (!ReadUnsigned64(text, position, 0xFFFFFFFFull, &v)) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

HttpDecision Decide(HttpStep step, uint32_t code = 0) {
    HttpDecision d;
    d.step = step;
    d.code = code;
    return d;
}

// The body is read; a total beyond any file is refused, and so is a send
// that failed.
HttpDecision ReceiveWith(const HttpAnswer& answer, uint64_t total, uint64_t bytesHeld) {
    if (total > kLargestFile) return Decide(HttpStep::Fail, E_DL_FILE_TOO_LARGE);
    if (answer.sendError) return Decide(HttpStep::SendError, answer.sendError);
    HttpDecision d = Decide(HttpStep::Receive);
    d.total = total;
    d.bytesHeld = bytesHeld;
    return d;
}

HttpDecision Complete(uint64_t held) {
    HttpDecision d = Decide(HttpStep::PartComplete);
    d.total = held;
    d.bytesHeld = held;
    return d;
}

bool IsRetriedStatus(uint32_t status) { return status == 408 || status == 429 || (status >= 500 && status <= 599); }

}  // namespace

WString PercentDecode(const WString& text) {
    if (!text.Contains(u'%')) return text;
    WString out;
    const int length = text.Length();
    for (int i = 0; i < length; ++i) {
        char16_t c = text[i];
        if (c == u'%' && i + 2 < length) {
            int high = HexDigitValue(text[i + 1]);
            int low = HexDigitValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.Append(static_cast<char16_t>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.Append(c);
    }
    return out;
}

uint32_t LeadingReplyCode(const WString& reply) {
    int i = 0;
    while (i < reply.Length() && (reply[i] == u' ' || reply[i] == u'\t')) ++i;
    uint32_t code = 0;
    if (!ReadUnsigned(reply, &i, &code)) return 0;
    return code;
}

uint64_t FtpSizeReplyValue(const WString& reply) {
    WString text = reply.Trimmed();
    int i = 0;
    uint32_t code = 0;
    if (!ReadUnsigned(text, &i, &code) || code != 213 || i >= text.Length() || text[i] != u' ') return 0;
    ++i;
    uint64_t size = 0;
    if (!ReadSize(text, &i, &size)) return 0;
    // Only the end of the line may follow (WinINet may count the
    // terminating NUL of its response text).
    while (i < text.Length() && text[i] <= u' ') ++i;
    return i == text.Length() ? size : 0;
}

ContentRange ParseContentRange(const WString& value) {
    ContentRange none;
    WString text = value.Trimmed();
    if (!text.StartsWithNoCase(u"bytes")) return none;
    int i = 5;
    while (i < text.Length() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'=')) ++i;
    ContentRange range;
    if (i < text.Length() && text[i] == u'*') {
        // "*/<total>": the range asked for lies beyond the end.
        ++i;
        if (i >= text.Length() || text[i] != u'/') return none;
        ++i;
        if (!ReadUnsigned64(text, &i, kLargestFile, &range.total) || i != text.Length()) return none;
        range.unsatisfied = true;
        return range;
    }
    if (!ReadUnsigned64(text, &i, kLargestFile, &range.first)) return none;
    if (i >= text.Length() || text[i] != u'-') return none;
    ++i;
    if (!ReadUnsigned64(text, &i, kLargestFile, &range.last) || range.last < range.first) return none;
    if (i >= text.Length() || text[i] != u'/') return none;
    ++i;
    if (i < text.Length() && text[i] == u'*') {
        ++i;
    } else if (!ReadUnsigned64(text, &i, kLargestFile, &range.total) || range.total <= range.last) {
        return none;
    }
    if (i != text.Length()) return none;
    range.valid = true;
    return range;
}

uint64_t ContentLengthValue(const WString& value) {
    WString text = value.Trimmed();
    int i = 0;
    uint64_t length = 0;
    return ReadSize(text, &i, &length) && i == text.Length() ? length : 0;
}

int64_t RetryAfterSeconds(const WString& value) {
    WString text = value.Trimmed();
    int i = 0;
    uint64_t seconds = 0;
    if (!ReadUnsigned64(text, &i, 0x7FFFFFFFull, &seconds) || i != text.Length()) return -1;
    return static_cast<int64_t>(seconds);
}

uint32_t ServerRetryPauseMs(int attempt, const WString& retryAfter) {
    const int64_t asked = RetryAfterSeconds(retryAfter);
    if (asked >= 0 && asked <= kMaxRetryAfterSeconds) return static_cast<uint32_t>(asked * 1000);
    if (attempt < 0) attempt = 0;
    if (attempt > 8) attempt = 8;
    return kServerRetryPauseMs << attempt;
}

bool IsRedirectStatus(uint32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

HttpDecision ClassifyHttpAnswer(const HttpAnswer& answer) {
    const uint64_t held = answer.bytesHeld;
    switch (answer.status) {
        case 0:
            // A failed send says why; a server that closed without answering
            // is a connection that broke.
            return answer.sendError ? Decide(HttpStep::SendError, answer.sendError) : Decide(HttpStep::Resume);
        case 200:
            // The whole file: the part file is recreated unless it already
            // holds at least as much. A 200 to an If-Range is the changed
            // file, whatever its size: its total is its own.
            if (held && answer.ifRange) {
                HttpDecision d = ReceiveWith(answer, answer.length, 0);
                d.changed = d.step == HttpStep::Receive;
                return d;
            }
            if (answer.proving) {
                // The bytes held are this transfer's own: a length equal to
                // them is the size that ends the file there; no length proves
                // nothing; another length is the file whole again.
                if (!answer.length) return answer.sendError ? Decide(HttpStep::SendError, answer.sendError)
                                                            : Decide(HttpStep::Resume);
                if (answer.length == held && !answer.sendError) return Complete(held);
                return ReceiveWith(answer, answer.length, 0);
            }
            if (answer.length && answer.length <= held) return Decide(HttpStep::Fail, E_DL_PARTIAL_TOO_LARGE);
            // Without a length the total an earlier answer gave still holds.
            return ReceiveWith(answer, answer.length ? answer.length : answer.knownTotal, 0);
        case 206: {
            // A piece must continue the part file exactly, and its
            // Content-Range, Content-Length and the total known so far must
            // agree; anything else asks for the whole file again.
            const ContentRange& range = answer.range;
            if (!range.valid || range.first != held) {
                return held || answer.proving ? Decide(HttpStep::RequestWhole) : Decide(HttpStep::Fail, E_DL_HTTP_ERROR);
            }
            const uint64_t pieceLength = range.last - range.first + 1;
            if (answer.length && answer.length != pieceLength) return Decide(HttpStep::RequestWhole);
            if (range.total && answer.knownTotal && range.total != answer.knownTotal) return Decide(HttpStep::RequestWhole);
            const uint64_t total = range.total ? range.total : answer.knownTotal;
            if (total && range.last >= total) return Decide(HttpStep::RequestWhole);
            HttpDecision d = ReceiveWith(answer, total, held);
            if (d.step == HttpStep::Receive) d.pieceEnd = range.last + 1;
            return d;
        }
        case 304:
            return Decide(HttpStep::Fail, E_DL_NOT_MODIFIED);
        case 401:
        case 407:
            return Decide(HttpStep::Credentials);
        case 403:
            return Decide(HttpStep::Fail, E_DL_FORBIDDEN);
        case 404:
        case 410:
            return Decide(HttpStep::Fail, E_DL_NOT_FOUND);
        case 416:
            if (!held && !answer.proving) return Decide(HttpStep::Fail, E_DL_HTTP_ERROR);
            // Nothing lies beyond the part file: it is the whole file when
            // the server's total is its size and no other total was known
            // in this transfer.
            if (answer.range.unsatisfied && answer.range.total == held &&
                (!answer.knownTotal || answer.knownTotal == held))
                return Complete(held);
            return Decide(HttpStep::RequestWhole);
        default:
            break;
    }
    if (IsRetriedStatus(answer.status)) return Decide(HttpStep::RetryLater);
    // A failed send says more than its status.
    if (answer.sendError) return Decide(HttpStep::SendError, answer.sendError);
    // Every other status, a success without a body (204, 205), a 203 whose
    // body may be a proxy's, a 3xx WinINet did not follow, or an error, is
    // not the file.
    return Decide(HttpStep::Fail, E_DL_HTTP_ERROR);
}

FtpDecision ClassifyFtpSize(uint64_t serverSize, uint64_t held, uint64_t knownTotal, bool proving) {
    FtpDecision d;
    d.step = FtpStep::Receive;
    uint64_t size = serverSize ? serverSize : knownTotal;
    if (serverSize && knownTotal && serverSize != knownTotal) {
        // Another file than the one this transfer began: it comes whole.
        held = 0;
        proving = false;
    }
    if (size > kLargestFile) {
        d.step = FtpStep::Fail;
        d.code = E_DL_FILE_TOO_LARGE;
        return d;
    }
    if (!size) {
        // Nothing tells the size: what this transfer received cannot be
        // proven whole, and a part file is not continued blind.
        if (proving) d.step = FtpStep::Resume;
        return d;
    }
    d.total = size;
    if (held < size) {
        d.bytesHeld = held;
        d.rest = held != 0;
    } else if (proving || (held == size && knownTotal == size)) {
        // This transfer's bytes: as many as the file has end it; more are
        // not the file's head, which then comes again whole.
        if (held == size) {
            d.step = FtpStep::PartComplete;
            d.bytesHeld = held;
        }
    } else {
        d.step = FtpStep::Fail;
        d.code = E_DL_PARTIAL_TOO_LARGE;
        d.total = 0;
    }
    return d;
}

BodyEnd JudgeBodyEnd(uint64_t held, uint64_t total, uint64_t pieceEnd, bool broken) {
    if (total && held > total) return BodyEnd::Overrun;
    if (pieceEnd && held > pieceEnd) return BodyEnd::Overrun;
    if (total && held == total) return BodyEnd::Complete;
    if (pieceEnd && held == pieceEnd) return BodyEnd::RequestRest;
    if (!total && !pieceEnd && !broken) return BodyEnd::Unproven;
    return BodyEnd::EarlyClose;
}

VolumeRoom JudgeVolumeRoom(uint64_t total, uint64_t held, uint64_t freeBytes, uint64_t largestFile) {
    if (!total) return VolumeRoom::Fits;
    if (total > kLargestFile || total > largestFile) return VolumeRoom::FileTooLarge;
    const uint64_t rest = total > held ? total - held : 0;
    return rest > freeBytes ? VolumeRoom::Full : VolumeRoom::Fits;
}

uint64_t LargestFileOn(const WString& fileSystem) {
    const WString name = fileSystem.Trimmed();
    if (name.EqualsNoCase(u"FAT") || name.EqualsNoCase(u"FAT12") || name.EqualsNoCase(u"FAT16") ||
        name.EqualsNoCase(u"FAT32"))
        return 0xFFFFFFFFull;
    return kLargestFile;
}

Downgrade JudgeDowngrade(const WString& requestedUrl, const WString& finalUrl, bool verifiable) {
    const WString requested = requestedUrl.Trimmed();
    const WString final = finalUrl.Trimmed();
    if (!requested.StartsWithNoCase(u"https:") || !final.StartsWithNoCase(u"http:")) return Downgrade::None;
    return verifiable ? Downgrade::Verified : Downgrade::Refused;
}

uint32_t ResumePauseMs(int fruitlessInARow) {
    if (fruitlessInARow < 0) fruitlessInARow = 0;
    if (fruitlessInARow > 5) fruitlessInARow = 5;
    return kResumePauseMs << fruitlessInARow;
}

bool IsAbsoluteTargetPath(const WString& path) { return IsAbsolutePath(path); }

bool ReconnectStallGuard::MayReconnect(uint64_t partSize) {
    if (!first_ && partSize == lastSize_) {
        ++stalled_;
    } else if (!first_) {
        stalled_ = 0;
    }
    first_ = false;
    lastSize_ = partSize;
    return stalled_ < kMaxStalledReconnects;
}

// ---------------------------------------------------------------------------
// Validators

namespace {

const char16_t kETagName[] = u"ETag";
const char16_t kLastModifiedName[] = u"Last-Modified";

// A strong entity tag: a quoted string of visible ASCII without quotes
// inside (RFC 9110 etagc); a weak one begins with W/ and is not taken.
bool IsStrongETag(const WString& value) {
    const int n = value.Length();
    if (n < 2 || value[0] != u'"' || value[n - 1] != u'"') return false;
    for (int i = 1; i < n - 1; ++i) {
        const char16_t c = value[i];
        if (c < 0x21 || c > 0x7E || c == u'"') return false;
    }
    return true;
}

// A date as a server sends it: printable ASCII, no blanks at either end.
bool IsDateText(const WString& value) {
    const int n = value.Length();
    if (!n || value[0] == u' ' || value[n - 1] == u' ') return false;
    for (int i = 0; i < n; ++i) {
        if (value[i] < 0x20 || value[i] > 0x7E) return false;
    }
    return true;
}

bool IsValidatorValue(ValidatorKind kind, const WString& value) {
    switch (kind) {
        case ValidatorKind::ETag: return IsStrongETag(value);
        case ValidatorKind::LastModified: return IsDateText(value);
        case ValidatorKind::None: break;
    }
    return false;
}

const char16_t* KindName(ValidatorKind kind) {
    return kind == ValidatorKind::ETag ? kETagName : kLastModifiedName;
}

// The text of one line of an ASCII file; false for any other byte.
bool AsciiLine(const uint8_t* bytes, uint32_t length, WString* line) {
    line->Clear();
    for (uint32_t i = 0; i < length; ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
        line->Append(static_cast<char16_t>(bytes[i]));
    }
    return true;
}

}  // namespace

// The first of the two that is usable and fits the validator file.
Validator ChooseValidator(const WString& etag, const WString& lastModified) {
    uint8_t bytes[kValidatorFileLimit];
    Validator v;
    v.kind = ValidatorKind::ETag;
    v.value = etag.Trimmed();
    if (ValidatorFileBytes(v, bytes)) return v;
    v.kind = ValidatorKind::LastModified;
    v.value = lastModified.Trimmed();
    if (ValidatorFileBytes(v, bytes)) return v;
    return Validator();
}

uint32_t ValidatorFileBytes(const Validator& validator, uint8_t (&out)[kValidatorFileLimit]) {
    if (!IsValidatorValue(validator.kind, validator.value)) return 0;
    const WString text = WString(KindName(validator.kind)) + u"\r\n" + validator.value + u"\r\n";
    if (text.Length() > static_cast<int>(kValidatorFileLimit)) return 0;
    for (int i = 0; i < text.Length(); ++i) out[i] = static_cast<uint8_t>(text[i]);
    return static_cast<uint32_t>(text.Length());
}

Validator ParseValidatorFile(const uint8_t* bytes, uint32_t size) {
    if (!bytes || size > kValidatorFileLimit) return Validator();
    // Exactly two lines, each ended by CR LF, as they are written.
    WString lines[2];
    uint32_t start = 0;
    for (WString& line : lines) {
        uint32_t end = start;
        while (end < size && bytes[end] != '\n') ++end;
        if (end == size || end == start || bytes[end - 1] != '\r') return Validator();
        if (!AsciiLine(bytes + start, end - 1 - start, &line)) return Validator();
        start = end + 1;
    }
    if (start != size) return Validator();
    Validator v;
    if (lines[0] == WString(kETagName)) {
        v.kind = ValidatorKind::ETag;
    } else if (lines[0] == WString(kLastModifiedName)) {
        v.kind = ValidatorKind::LastModified;
    } else {
        return Validator();
    }
    if (!IsValidatorValue(v.kind, lines[1])) return Validator();
    v.value = lines[1];
    return v;
}

WString IfRangeHeader(const Validator& validator) {
    if (!IsValidatorValue(validator.kind, validator.value)) return WString();
    return u"If-Range: " + validator.value + u"\r\n";
}
