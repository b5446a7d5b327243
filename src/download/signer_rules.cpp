#include "download/signer_rules.h"

#include <string.h>

#include "config/prerequisite.h"

namespace {

// Answers of the trust provider (winerror.h).
constexpr uint32_t kTrustNoSignature = 0x800B0100u;          // TRUST_E_NOSIGNATURE
constexpr uint32_t kTrustSubjectFormUnknown = 0x800B0003u;   // TRUST_E_SUBJECT_FORM_UNKNOWN
constexpr uint32_t kTrustSubjectNotTrusted = 0x800B0004u;    // TRUST_E_SUBJECT_NOT_TRUSTED
constexpr uint32_t kCertErrorFirst = 0x800B0101u;            // CERT_E_EXPIRED
constexpr uint32_t kCertErrorLast = 0x800B0114u;             // CERT_E_INVALID_NAME (TRUST_E_EXPLICIT_DISTRUST among them)
constexpr uint32_t kTrustNoSignerCert = 0x80096002u;         // TRUST_E_NO_SIGNER_CERT
constexpr uint32_t kTrustCounterSigner = 0x80096003u;        // TRUST_E_COUNTER_SIGNER
constexpr uint32_t kTrustCertSignature = 0x80096004u;        // TRUST_E_CERT_SIGNATURE
constexpr uint32_t kTrustTimeStamp = 0x80096005u;            // TRUST_E_TIME_STAMP
constexpr uint32_t kTrustBadDigest = 0x80096010u;            // TRUST_E_BAD_DIGEST
constexpr uint32_t kTrustBasicConstraints = 0x80096019u;     // TRUST_E_BASIC_CONSTRAINTS
constexpr uint32_t kTrustFinancialCriteria = 0x8009601Eu;    // TRUST_E_FINANCIAL_CRITERIA
constexpr uint32_t kBadSignature = 0x80090006u;              // NTE_BAD_SIGNATURE
constexpr uint32_t kCryptHashValue = 0x80091007u;            // CRYPT_E_HASH_VALUE
constexpr uint32_t kCryptBadMessage = 0x8009200Du;           // CRYPT_E_BAD_MSG
constexpr uint32_t kCryptNoSigner = 0x8009200Eu;             // CRYPT_E_NO_SIGNER
constexpr uint32_t kCryptRevoked = 0x80092010u;              // CRYPT_E_REVOKED
constexpr uint32_t kCryptNoRevocationCheck = 0x80092012u;    // CRYPT_E_NO_REVOCATION_CHECK
constexpr uint32_t kCryptRevocationOffline = 0x80092013u;    // CRYPT_E_REVOCATION_OFFLINE
constexpr uint32_t kAsn1ErrorFirst = 0x80093000u;            // CRYPT_E_ASN1_ERROR ...
constexpr uint32_t kAsn1ErrorLast = 0x800931FFu;             // ... a signature whose encoding is broken

// Error bits of a chain's trust status (wincrypt.h).
constexpr uint32_t kChainNotTimeValid = 0x1;            // CERT_TRUST_IS_NOT_TIME_VALID
constexpr uint32_t kChainRevoked = 0x4;                 // CERT_TRUST_IS_REVOKED
constexpr uint32_t kChainSignatureInvalid = 0x8;        // CERT_TRUST_IS_NOT_SIGNATURE_VALID
constexpr uint32_t kChainUntrustedRoot = 0x20;          // CERT_TRUST_IS_UNTRUSTED_ROOT
constexpr uint32_t kChainCyclic = 0x80;                 // CERT_TRUST_IS_CYCLIC
constexpr uint32_t kChainPartial = 0x10000;             // CERT_TRUST_IS_PARTIAL_CHAIN
constexpr uint32_t kChainExplicitDistrust = 0x4000000;  // CERT_TRUST_IS_EXPLICIT_DISTRUST
constexpr uint32_t kCertRevoked = 0x800B010Cu;          // CERT_E_REVOKED
constexpr uint32_t kCertExpired = 0x800B0101u;          // CERT_E_EXPIRED
constexpr uint32_t kCertUntrustedRoot = 0x800B0109u;    // CERT_E_UNTRUSTEDROOT
constexpr uint32_t kCertChaining = 0x800B010Au;         // CERT_E_CHAINING
constexpr uint32_t kTrustExplicitDistrust = 0x800B0111u;  // TRUST_E_EXPLICIT_DISTRUST

bool IsHexText(const WString& text) {
    for (int i = 0; i < text.Length(); ++i)
        if (HexDigitValue(text[i]) < 0) return false;
    return true;
}

}  // namespace

Array<WString> ThumbprintItems(const WString& text) {
    Array<WString> items;
    if (text.IsEmpty()) return items;
    int start = 0;
    for (;;) {
        const int comma = text.FindChar(u',', start);
        const int end = comma < 0 ? text.Length() : comma;
        items.Add(text.Substr(start, end - start).Trimmed());
        if (comma < 0) return items;
        start = comma + 1;
    }
}

ThumbprintForm ReadThumbprint(const WString& item, CertificatePin* pin) {
    if (item.IsEmpty()) return ThumbprintForm::kEmpty;
    if (!IsHexText(item)) return ThumbprintForm::kNotHex;
    if (item.Length() != 40 && item.Length() != 64) return ThumbprintForm::kWrongLength;
    pin->length = static_cast<uint8_t>(item.Length() / 2);
    for (int i = 0; i < pin->length; ++i)
        pin->bytes[i] = static_cast<uint8_t>(HexDigitValue(item[2 * i]) * 16 + HexDigitValue(item[2 * i + 1]));
    return pin->length == 20 ? ThumbprintForm::kSha1 : ThumbprintForm::kSha256;
}

SignerPins::SignerPins(const WString& thumbprints, const WString& name) : name_(name) {
    pinsGiven_ = !thumbprints.IsEmpty();
    for (const WString& item : ThumbprintItems(thumbprints)) {
        CertificatePin pin;
        const ThumbprintForm form = ReadThumbprint(item, &pin);
        // A pin the array cannot hold counts as malformed too: the list
        // would otherwise be narrower than written.
        if ((form != ThumbprintForm::kSha1 && form != ThumbprintForm::kSha256) || !pins_.Add(pin)) malformed_ = true;
    }
}

SignerPins SignerPins::Of(const Prerequisite& prerequisite) {
    return SignerPins(prerequisite.SignerThumbprint, prerequisite.SignerName);
}

bool SignerPins::Pins(const uint8_t* sha1, const uint8_t sha256[32]) const {
    for (const CertificatePin& pin : pins_) {
        const uint8_t* digest = pin.length == 20 ? sha1 : sha256;
        if (digest && memcmp(pin.bytes, digest, pin.length) == 0) return true;
    }
    return false;
}

SignerFailure ClassifyTrustAnswer(uint32_t code) {
    switch (code) {
        case 0:
            return SignerFailure::kNone;
        case kTrustNoSignature:
        case kTrustSubjectFormUnknown:
            return SignerFailure::kNoSignature;
        case kTrustBadDigest:
        case kTrustCertSignature:
        case kTrustNoSignerCert:
        case kBadSignature:
        case kCryptHashValue:
        case kCryptBadMessage:
        case kCryptNoSigner:
            return SignerFailure::kBadSignature;
        case kTrustSubjectNotTrusted:
        case kTrustCounterSigner:
        case kTrustTimeStamp:
        case kTrustBasicConstraints:
        case kTrustFinancialCriteria:
        case kCryptRevoked:
        case kCryptNoRevocationCheck:
        case kCryptRevocationOffline:
            return SignerFailure::kUntrustedChain;
        default:
            break;
    }
    if (code >= kCertErrorFirst && code <= kCertErrorLast) return SignerFailure::kUntrustedChain;
    if (code >= kAsn1ErrorFirst && code <= kAsn1ErrorLast) return SignerFailure::kBadSignature;
    return SignerFailure::kNotChecked;
}

uint32_t ChainStatusAnswer(uint32_t errorStatus) {
    if (errorStatus & kChainSignatureInvalid) return kTrustCertSignature;
    if (errorStatus & kChainRevoked) return kCertRevoked;
    if (errorStatus & kChainExplicitDistrust) return kTrustExplicitDistrust;
    if (errorStatus & kChainUntrustedRoot) return kCertUntrustedRoot;
    if (errorStatus & (kChainCyclic | kChainPartial)) return kCertChaining;
    if (errorStatus & kChainNotTimeValid) return kCertExpired;
    return 0;
}

const char16_t* SignerFailureLogText(SignerFailure failure) {
    switch (failure) {
        case SignerFailure::kNone: return nullptr;
        case SignerFailure::kMalformedPins: return u"SignerThumbprint is malformed, the file is rejected:";
        case SignerFailure::kNoSignature: return u"File has no Authenticode signature:";
        case SignerFailure::kBadSignature: return u"Signature does not match the file:";
        case SignerFailure::kUntrustedChain: return u"Signature is not trusted:";
        case SignerFailure::kNoPinnedCertificate: return u"No pinned certificate in the signature's chain:";
        case SignerFailure::kNameDiffers: return u"Signer name differs:";
        case SignerFailure::kNotChecked: return u"Signature could not be checked:";
    }
    return nullptr;
}
