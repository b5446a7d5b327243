// Fuzzes the reading of a SignerThumbprint list and the meaning of the
// trust provider's answers: the bytes are UTF-16 units of the list (and of a
// SignerName); the first eight bytes are also an answer and a chain status.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "download/signer_rules.h"

namespace {

uint32_t Word(const uint8_t* data) {
    return static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
           (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= 8) {
        // A refusal is never read as a pass, and a chain's own status is a
        // chain or signature failure, never a missing signature.
        const uint32_t answer = Word(data);
        if (answer && ClassifyTrustAnswer(answer) == SignerFailure::kNone) abort();
        const uint32_t chain = ChainStatusAnswer(Word(data + 4));
        const SignerFailure chainFailure = ClassifyTrustAnswer(chain);
        if (chain && chainFailure != SignerFailure::kUntrustedChain && chainFailure != SignerFailure::kBadSignature)
            abort();
    }
    const size_t units = size / 2;
    char16_t* text = static_cast<char16_t*>(malloc((units + 1) * sizeof(char16_t)));
    if (!text) return 0;
    for (size_t i = 0; i < units; ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    text[units] = 0;
    const WString list(text, static_cast<int>(units));
    free(text);

    const SignerPins pins(list, list);
    if (pins.Asked() != !list.IsEmpty() || pins.PinsCertificates() != !list.IsEmpty()) abort();
    const Array<WString> items = ThumbprintItems(list);
    int commas = 0;
    for (int i = 0; i < list.Length(); ++i) commas += list[i] == u',';
    if (!list.IsEmpty() && items.Size() != commas + 1) abort();
    bool malformed = false;
    for (const WString& item : items) {
        if (item != item.Trimmed()) abort();
        CertificatePin pin;
        const ThumbprintForm form = ReadThumbprint(item, &pin);
        if (form != ThumbprintForm::kSha1 && form != ThumbprintForm::kSha256) {
            malformed = true;
            continue;
        }
        // A pin is exactly its digits, and the certificate with that digest is
        // pinned (under its own length only).
        if (pin.length * 2 != item.Length()) abort();
        for (int i = 0; i < item.Length(); ++i)
            if (HexDigitValue(item[i]) != ((pin.bytes[i / 2] >> (i % 2 ? 0 : 4)) & 15)) abort();
        uint8_t sha256[32];
        memset(sha256, 0, sizeof sha256);
        if (pin.length == 32) memcpy(sha256, pin.bytes, 32);
        if (!pins.Pins(pin.length == 20 ? pin.bytes : nullptr, sha256)) abort();
    }
    if (pins.Malformed() != malformed) abort();
    return 0;
}
