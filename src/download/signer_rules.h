// The publisher checks of a setup file without the system: the pinned
// certificates a SignerThumbprint lists, the SignerName, what the trust
// provider's answer means, and the reasons a check fails with their log
// texts. The check itself is signer_check_win.h. Portable.
#pragma once

#include <stdint.h>

#include "base/array.h"
#include "base/result.h"
#include "base/wstr.h"

struct Prerequisite;

// A certificate thumbprint: the SHA-1 (20 bytes) or SHA-256 (32 bytes)
// digest of the certificate's encoded form.
struct CertificatePin {
    uint8_t length = 0;  // 20 or 32
    uint8_t bytes[32] = {};
};

enum class ThumbprintForm {
    kSha1,         // 40 hexadecimal digits
    kSha256,       // 64 hexadecimal digits
    kEmpty,        // nothing between two commas, or at an end
    kWrongLength,  // hexadecimal digits, but neither 40 nor 64 of them
    kNotHex,       // a character that is no hexadecimal digit
};

// The items of a SignerThumbprint text: split at every comma, each trimmed
// of blanks (empty ones kept; none for an empty text).
Array<WString> ThumbprintItems(const WString& text);
// What one trimmed item is; *pin is filled for kSha1 and kSha256.
ThumbprintForm ReadThumbprint(const WString& item, CertificatePin* pin);

// What a prerequisite asks of its setup's signature: SignerThumbprint and
// SignerName, each only when not empty. A list with any item that is not a
// thumbprint is malformed, and a file checked against it never passes: a
// typing error must not turn a pin into no pin.
class SignerPins {
public:
    SignerPins() = default;
    SignerPins(const WString& thumbprints, const WString& name);
    static SignerPins Of(const Prerequisite& prerequisite);

    // Any check asked for (the signature is then verified in any case).
    bool Asked() const { return pinsGiven_ || !name_.IsEmpty(); }
    bool PinsCertificates() const { return pinsGiven_; }
    bool Malformed() const { return malformed_; }
    bool ChecksName() const { return !name_.IsEmpty(); }
    const WString& Name() const { return name_; }
    // True when a certificate with these digests is pinned; sha1 may be null
    // when the system could not give it (only SHA-256 pins can match then).
    bool Pins(const uint8_t* sha1, const uint8_t sha256[32]) const;

private:
    Array<CertificatePin> pins_;
    WString name_;
    bool pinsGiven_ = false;
    bool malformed_ = false;
};

// Why a publisher check failed.
enum class SignerFailure {
    kNone,                 // every check asked for passed, or none was asked
    kMalformedPins,        // SignerThumbprint holds an item that is no thumbprint
    kNoSignature,          // the file carries no Authenticode signature (or is of a kind that has none)
    kBadSignature,         // the signature does not match the file's bytes, or does not verify
    kUntrustedChain,       // no trusted root, or a certificate expired, revoked or not for code signing
    kNoPinnedCertificate,  // the chain holds none of the pinned certificates
    kNameDiffers,          // the signing certificate's name is not SignerName
    kNotChecked,           // the system could not check (trust DLLs missing, a read failed)
};

struct SignerResult {
    SignerFailure failure = SignerFailure::kNone;
    ResultCode code = kResultOk;  // the trust provider's or the system's answer, when it tells why
    WString signerName;           // the signing certificate's simple display name, once read
    bool Passed() const { return failure == SignerFailure::kNone; }
};

// What an answer of WinVerifyTrust other than 0 means for the file.
SignerFailure ClassifyTrustAnswer(uint32_t code);

// The answer the chain's own trust status gives (its CERT_TRUST_* error
// bits): a root that is not trusted, a certificate whose signature does not
// verify, that is revoked or distrusted, a chain cut short or cyclic, a
// certificate outside its validity at the signature's time (the time stamp's,
// else now); 0 for none of these. Checked after the provider has passed the file as well, so
// that a provider that passes untrusted chains (Wine 8 does) is not believed.
uint32_t ChainStatusAnswer(uint32_t errorStatus);

// The log line's text before its value (it ends with a colon); null for kNone.
const char16_t* SignerFailureLogText(SignerFailure failure);
