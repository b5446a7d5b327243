#include <gtest/gtest.h>

#include <string>

#include "config/prerequisite.h"
#include "download/file_verdict.h"
#include "download/signer_rules.h"

namespace {

// Two certificates' digests: SHA-1 00 01 .. 13, SHA-256 a0 a1 .. bf.
struct Digests {
    uint8_t sha1[20];
    uint8_t sha256[32];
    Digests() {
        for (int i = 0; i < 20; ++i) sha1[i] = static_cast<uint8_t>(i);
        for (int i = 0; i < 32; ++i) sha256[i] = static_cast<uint8_t>(0xA0 + i);
    }
};

const std::u16string kSha1 = u"000102030405060708090a0b0c0d0e0f10111213";
const std::u16string kSha256 = u"a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf";
const std::u16string kOther = u"ffffffffffffffffffffffffffffffffffffffff";

TEST(SignerRules, ThumbprintLists) {
    enum Match { kNone = 0, kBySha1 = 1, kBySha256 = 2 };
    struct Case {
        std::u16string text;
        bool malformed;
        int matches;  // Match bits: which digest of the certificate finds a pin
    } cases[] = {
        {kSha1, false, kBySha1},
        {u"000102030405060708090A0B0C0D0E0F10111213", false, kBySha1},  // either case
        {u" \t" + kSha1 + u"  ", false, kBySha1},                       // blanks around an item
        {kSha256, false, kBySha256},
        {kOther + u" , " + kSha256, false, kBySha256},                  // any item of the list
        {kSha1 + u"," + kSha256, false, kBySha1 | kBySha256},
        {kOther, false, kNone},
        // The first 20 bytes of the SHA-256 as a SHA-1 pin: lengths never mix.
        {u"a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3", false, kNone},
        // Malformed: the list rejects every file, whatever else it holds.
        {kSha1 + u",", true, kBySha1},
        {kSha1 + u",," + kSha256, true, kBySha1 | kBySha256},
        {u",", true, kNone},
        {kSha1.substr(1), true, kNone},
        {kSha1 + u"0", true, kNone},
        {kSha256.substr(1), true, kNone},
        {kSha256 + u"0", true, kNone},
        {u"0x" + kSha1.substr(2), true, kNone},
        {u"00:01:02:03:04:05:06:07:08:09:0a:0b:0c:0d:0e:0f:10:11:12:13", true, kNone},
        {u"00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13", true, kNone},
        {u"\u200e" + kSha1, true, kNone},  // the mark a copy from the certificate dialog may carry
        {kSha1 + u";" + kSha256, true, kNone},
    };
    const Digests d;
    for (const Case& c : cases) {
        const SignerPins pins(WString(c.text.c_str()), WString());
        EXPECT_TRUE(pins.Asked() && pins.PinsCertificates() && !pins.ChecksName());
        EXPECT_EQ(pins.Malformed(), c.malformed) << "case " << (&c - cases);
        const int found = (pins.Pins(d.sha1, d.sha256) ? 1 : 0);
        const int bySha256 = pins.Pins(nullptr, d.sha256) ? kBySha256 : 0;  // no SHA-1 from the system
        Digests other;
        other.sha256[0] ^= 1;
        const int bySha1 = pins.Pins(d.sha1, other.sha256) ? kBySha1 : 0;
        EXPECT_EQ(bySha1 | bySha256, c.matches) << "case " << (&c - cases);
        EXPECT_EQ(found, c.matches ? 1 : 0) << "case " << (&c - cases);
    }
    // Nothing given asks nothing; a name alone asks for a valid signature.
    EXPECT_FALSE(SignerPins().Asked());
    EXPECT_FALSE(SignerPins(WString(), WString()).Asked());
    const SignerPins named(WString(), WString(u"Contoso Ltd"));
    EXPECT_TRUE(named.Asked() && named.ChecksName() && !named.PinsCertificates() && !named.Malformed());
}

TEST(SignerRules, IntegrityCheckOfAPrerequisite) {
    struct Case {
        const char16_t* md5;
        const char16_t* sha256;
        const char16_t* thumbprint;
        const char16_t* name;
        int32_t exactSize;
        bool checked;
    } cases[] = {
        {u"", u"", u"", u"", 0, false},
        {u"", u"", u"", u"", 1000, false},  // a size alone says nothing of the bytes
        {u"x", u"", u"", u"", 0, true},
        {u"", u"x", u"", u"", 0, true},
        {u"", u"", u"x", u"", 0, true},  // malformed still rejects every file
        {u"", u"", u"", u"Contoso", 0, true},
    };
    for (const Case& c : cases) {
        Prerequisite p;
        p.MD5 = WString(c.md5);
        p.SHA256 = WString(c.sha256);
        p.SignerThumbprint = WString(c.thumbprint);
        p.SignerName = WString(c.name);
        p.ExactSize = c.exactSize;
        EXPECT_EQ(ExpectedFileOf(p).JudgesBytes(), c.checked) << "case " << (&c - cases);
    }
}

TEST(SignerRules, WhatTheSystemAnswers) {
    using F = SignerFailure;
    struct Answer {
        uint32_t code;
        F failure;
    } answers[] = {
        {0, F::kNone},
        {0x800B0100u, F::kNoSignature},     // TRUST_E_NOSIGNATURE
        {0x800B0003u, F::kNoSignature},     // TRUST_E_SUBJECT_FORM_UNKNOWN: not a signable kind of file
        {0x80096010u, F::kBadSignature},    // TRUST_E_BAD_DIGEST: a byte changed after signing
        {0x80096004u, F::kBadSignature},    // TRUST_E_CERT_SIGNATURE
        {0x80093102u, F::kBadSignature},    // CRYPT_E_ASN1_BADTAG: a broken signature blob
        {0x800B0109u, F::kUntrustedChain},  // CERT_E_UNTRUSTEDROOT
        {0x800B0101u, F::kUntrustedChain},  // CERT_E_EXPIRED
        {0x800B010Cu, F::kUntrustedChain},  // CERT_E_REVOKED
        {0x800B0110u, F::kUntrustedChain},  // CERT_E_WRONG_USAGE
        {0x800B0111u, F::kUntrustedChain},  // TRUST_E_EXPLICIT_DISTRUST
        {0x800B0004u, F::kUntrustedChain},  // TRUST_E_SUBJECT_NOT_TRUSTED
        {0x80092013u, F::kUntrustedChain},  // CRYPT_E_REVOCATION_OFFLINE, where policy refuses it
        {0x800B0115u, F::kNotChecked},      // beyond the certificate errors
        {0x800B0001u, F::kNotChecked},      // TRUST_E_PROVIDER_UNKNOWN
        {0x80070005u, F::kNotChecked},      // access denied
        {126, F::kNotChecked},              // ERROR_MOD_NOT_FOUND
    };
    for (const Answer& a : answers) EXPECT_EQ(ClassifyTrustAnswer(a.code), a.failure) << std::hex << a.code;

    struct Status {
        uint32_t bits;
        uint32_t answer;
    } statuses[] = {
        {0, 0},
        {0x40, 0},                    // revocation unknown: the provider's policy judged it
        {0x01000040, 0},              // offline revocation
        {0x10, 0},                    // usage: the provider judges it
        {0x20, 0x800B0109u},          // untrusted root
        {0x28, 0x80096004u},          // a certificate's signature first
        {0x24, 0x800B010Cu},          // revoked before untrusted
        {0x10000, 0x800B010Au},       // partial chain
        {0x80, 0x800B010Au},          // cyclic
        {0x4000000, 0x800B0111u},     // explicitly distrusted
        {0x1, 0x800B0101u},           // expired at the signature's time
        {0x21, 0x800B0109u},          // the root before the time
    };
    for (const Status& s : statuses) EXPECT_EQ(ChainStatusAnswer(s.bits), s.answer) << std::hex << s.bits;

    // Every failure has its own log text, ending as log prefixes do.
    std::u16string seen;
    for (F f : {F::kMalformedPins, F::kNoSignature, F::kBadSignature, F::kUntrustedChain, F::kNoPinnedCertificate,
                F::kNameDiffers, F::kNotChecked}) {
        const std::u16string text = SignerFailureLogText(f);
        EXPECT_EQ(text.back(), u':');
        EXPECT_EQ(seen.find(text), std::u16string::npos);
        seen += text + u"|";
    }
    EXPECT_EQ(SignerFailureLogText(F::kNone), nullptr);
}

}  // namespace
