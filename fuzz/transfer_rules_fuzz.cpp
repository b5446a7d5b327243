// Fuzzes the header values a server sends (Content-Range, Content-Length,
// Retry-After, ETag, Last-Modified) and what the transfer makes of an answer
// carrying them: the bytes are UTF-16 units; the first four bytes give the
// status and the bytes held. The same bytes are read as a validator file.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "download/transfer_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A validator file is read only as it is written: what reads as one is
    // written back as the very same bytes.
    const Validator stored = ParseValidatorFile(data, static_cast<uint32_t>(size));
    if (stored.kind != ValidatorKind::None) {
        uint8_t bytes[kValidatorFileLimit];
        const uint32_t written = ValidatorFileBytes(stored, bytes);
        if (written != size || memcmp(bytes, data, size) != 0) abort();
    }
    if (size < 4) return 0;
    const uint32_t status = data[0] | ((data[1] & 0x7F) << 8);
    // Held sizes reach beyond 32 bits (0x40 of the fourth byte).
    const uint64_t held = static_cast<uint64_t>(data[2] | ((data[3] & 0x3F) << 8)) * 977u << ((data[3] & 0x40) ? 20 : 0);
    const bool ifRange = (data[3] & 0x80) != 0;
    const bool proving = (data[1] & 0x80) != 0;
    data += 4;
    size -= 4;
    size_t units = size / 2;
    char16_t* text = static_cast<char16_t*>(malloc((units + 1) * sizeof(char16_t)));
    if (!text) return 0;
    for (size_t i = 0; i < units; ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    text[units] = 0;
    WString value(text, static_cast<int>(units));

    // A kept validator fits its file, and its If-Range is one header line.
    const Validator chosen = ChooseValidator(value, value);
    if (chosen.kind != ValidatorKind::None) {
        uint8_t bytes[kValidatorFileLimit];
        if (!ValidatorFileBytes(chosen, bytes)) abort();
        const WString header = IfRangeHeader(chosen);
        if (header.Find(u"\r") != header.Length() - 2 || header.Find(u"\n") != header.Length() - 1) abort();
    }

    ContentRange range = ParseContentRange(value);
    if (range.valid && (range.unsatisfied || range.last < range.first)) abort();
    if (range.valid && range.total && range.total <= range.last) abort();
    (void)RetryAfterSeconds(value);
    if (FtpSizeReplyValue(value) && LeadingReplyCode(value.Trimmed()) != 213) abort();
    // Only an https request that ended on http is a downgrade.
    if (JudgeDowngrade(value, value, status & 1) != Downgrade::None) abort();
    (void)ServerRetryPauseMs(static_cast<int>(status % 12), value);

    HttpAnswer answer;
    answer.status = status;
    answer.bytesHeld = held;
    answer.length = ContentLengthValue(value);
    answer.range = range;
    answer.knownTotal = (status & 1) ? range.total : 0;
    answer.ifRange = ifRange;
    answer.proving = proving;
    HttpDecision d = ClassifyHttpAnswer(answer);
    // The part file is whole only when the answer tells its very size and
    // agrees with the total already known.
    if (d.step == HttpStep::PartComplete &&
        (d.total != held || d.bytesHeld != held || (answer.knownTotal && answer.knownTotal != held) ||
         (status == 416 && (!range.unsatisfied || range.total != held)) ||
         (status == 200 && (!proving || answer.length != held)) || (status != 200 && status != 416)))
        abort();
    // A proof never begins the part file afresh on an answer without a length.
    if (proving && status == 200 && !answer.length && !ifRange && d.step == HttpStep::Receive) abort();
    if (d.step == HttpStep::Receive && d.total > kLargestFile) abort();
    // Only a 200 to a conditional range request says the file changed.
    if (d.changed && (status != 200 || !answer.ifRange || !held || d.step != HttpStep::Receive || d.bytesHeld)) abort();
    // Only 200 and 206 are bodies; a piece agrees with its range and total.
    if (d.step == HttpStep::Receive && status != 200 && status != 206) abort();
    if (d.step == HttpStep::Receive && status == 206 &&
        (!range.valid || d.pieceEnd != range.last + 1 || (d.total && d.pieceEnd > d.total) ||
         (answer.length && answer.length != range.last - range.first + 1)))
        abort();
    // A body of untold length never ends cleanly as complete.
    if (!d.total && !d.pieceEnd && JudgeBodyEnd(held, 0, 0, false) != BodyEnd::Unproven) abort();
    (void)JudgeBodyEnd(held, d.total, d.pieceEnd, status & 2);
    const FtpDecision ftp = ClassifyFtpSize(FtpSizeReplyValue(value), held, answer.knownTotal, proving);
    if (ftp.step == FtpStep::PartComplete && (ftp.total != held || (!proving && answer.knownTotal != held))) abort();
    if (ftp.step == FtpStep::Receive && (ftp.bytesHeld > held || (ftp.total && ftp.bytesHeld >= ftp.total) ||
                                         ftp.rest != (ftp.bytesHeld != 0)))
        abort();
    const VolumeRoom room = JudgeVolumeRoom(d.total, held, answer.length, LargestFileOn(value));
    if (room == VolumeRoom::Fits && d.total > held && d.total - held > answer.length) abort();
    // A piece is appended only where the part file ends.
    if (d.step == HttpStep::Receive && d.bytesHeld && (d.bytesHeld != held || (range.valid && range.first != held)))
        abort();
    if (d.step == HttpStep::Receive && d.total && d.bytesHeld > d.total) abort();
    free(text);
    return 0;
}
