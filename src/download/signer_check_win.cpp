#include "download/signer_check_win.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include "download/sha256.h"
#include "platform/os_info.h"
#include "platform/system_library_win.h"
#include "platform/win_util.h"

namespace {

// The trust functions, looked up once; error says why they are missing.
struct TrustApi {
    DWORD error;
    decltype(&::WinVerifyTrust) Verify;
    decltype(&::WTHelperProvDataFromStateData) ProviderData;
    decltype(&::WTHelperGetProvSignerFromChain) Signer;
    decltype(&::CertGetCertificateContextProperty) Property;
    decltype(&::CertGetNameStringW) NameString;
};

TrustApi g_api;
OnceFlag g_apiOnce;

template <typename Fn>
void Resolve(HMODULE module, const char* name, Fn* slot, DWORD* error) {
    *slot = ModuleFunction<Fn>(module, name);
    if (!*slot && !*error) *error = module ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND;
}

const TrustApi& Trust() {
    g_apiOnce.Run([] {
        HMODULE wintrust = SystemLibrary(L"wintrust.dll");
        HMODULE crypt32 = SystemLibrary(L"crypt32.dll");
        DWORD error = 0;
        Resolve(wintrust, "WinVerifyTrust", &g_api.Verify, &error);
        Resolve(wintrust, "WTHelperProvDataFromStateData", &g_api.ProviderData, &error);
        Resolve(wintrust, "WTHelperGetProvSignerFromChain", &g_api.Signer, &error);
        Resolve(crypt32, "CertGetCertificateContextProperty", &g_api.Property, &error);
        Resolve(crypt32, "CertGetNameStringW", &g_api.NameString, &error);
        g_api.error = error;
    });
    return g_api;
}

// The state of one verification, closed whatever its answer was.
class TrustState {
public:
    TrustState(const TrustApi& api, HANDLE file, const WString& path) : api_(api) {
        fileInfo_.cbStruct = sizeof(fileInfo_);
        fileInfo_.pcwszFilePath = path.wc();
        fileInfo_.hFile = file;
        data_.cbStruct = sizeof(data_);
        data_.dwUIChoice = WTD_UI_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &fileInfo_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        data_.dwUIContext = WTD_UICONTEXT_EXECUTE;
        if (GetOsInfo().MajorVersion >= 6) {
            // The whole chain, from the cached revocation lists and answers
            // only: nothing is fetched.
            data_.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
            data_.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN | WTD_CACHE_ONLY_URL_RETRIEVAL;
        } else {
            // Windows XP and Server 2003 would fetch what is not cached.
            data_.fdwRevocationChecks = WTD_REVOKE_NONE;
            data_.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
        }
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        answer_ = static_cast<ResultCode>(api_.Verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_));
    }
    ~TrustState() {
        if (!data_.hWVTStateData) return;
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        api_.Verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
    }
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;

    ResultCode Answer() const { return answer_; }
    // The chain of the file's signature (its first signer), or null.
    PCCERT_CHAIN_CONTEXT Chain() const {
        CRYPT_PROVIDER_DATA* provider = data_.hWVTStateData ? api_.ProviderData(data_.hWVTStateData) : nullptr;
        CRYPT_PROVIDER_SGNR* signer = provider ? api_.Signer(provider, 0, FALSE, 0) : nullptr;
        PCCERT_CHAIN_CONTEXT chain = signer ? signer->pChainContext : nullptr;
        if (!chain || chain->cChain == 0 || !chain->rgpChain[0] || chain->rgpChain[0]->cElement == 0) return nullptr;
        return chain;
    }

private:
    const TrustApi& api_;
    WINTRUST_FILE_INFO fileInfo_ = {};
    WINTRUST_DATA data_ = {};
    ResultCode answer_ = 0;
};

WString SimpleDisplayName(const TrustApi& api, PCCERT_CONTEXT certificate) {
    const DWORD size = api.NameString(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    WString name;
    if (size <= 1) return name;
    const DWORD written = api.NameString(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                                         name.GetWBuffer(static_cast<int>(size)), size);
    name.ReleaseBuffer(written ? static_cast<int>(written - 1) : 0);
    return name;
}

bool PinnedCertificate(const TrustApi& api, PCCERT_CONTEXT certificate, const SignerPins& pins) {
    uint8_t sha1[20];
    DWORD size = sizeof sha1;
    const bool haveSha1 = api.Property(certificate, CERT_SHA1_HASH_PROP_ID, sha1, &size) && size == sizeof sha1;
    Sha256 hash;
    hash.Update(certificate->pbCertEncoded, certificate->cbCertEncoded);
    uint8_t sha256[32];
    hash.Finish(sha256);
    return pins.Pins(haveSha1 ? sha1 : nullptr, sha256);
}

// Every certificate from the signing one up to the trusted root.
bool ChainHoldsPin(const TrustApi& api, PCCERT_CHAIN_CONTEXT chain, const SignerPins& pins) {
    for (DWORD c = 0; c < chain->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[c];
        for (DWORD e = 0; simple && e < simple->cElement; ++e)
            if (simple->rgpElement[e] && PinnedCertificate(api, simple->rgpElement[e]->pCertContext, pins)) return true;
    }
    return false;
}

SignerResult Failed(SignerFailure failure, ResultCode code) {
    SignerResult result;
    result.failure = failure;
    result.code = code;
    return result;
}

}  // namespace

SignerResult CheckSigner(HANDLE file, const WString& displayPath, const SignerPins& pins) {
    if (!pins.Asked()) return SignerResult();
    if (pins.Malformed()) return Failed(SignerFailure::kMalformedPins, kResultOk);
    // Without a handle the provider would open the path: another file, maybe.
    if (IsNoHandle(file)) return Failed(SignerFailure::kNotChecked, ERROR_INVALID_HANDLE);
    const TrustApi& api = Trust();
    if (api.error) return Failed(SignerFailure::kNotChecked, api.error);
    TrustState state(api, file, displayPath);
    if (state.Answer() != 0) return Failed(ClassifyTrustAnswer(state.Answer()), state.Answer());
    PCCERT_CHAIN_CONTEXT chain = state.Chain();
    if (!chain) return Failed(SignerFailure::kNotChecked, static_cast<ResultCode>(TRUST_E_SYSTEM_ERROR));
    if (const uint32_t answer = ChainStatusAnswer(chain->TrustStatus.dwErrorStatus))
        return Failed(ClassifyTrustAnswer(answer), answer);
    SignerResult result;
    result.signerName = SimpleDisplayName(api, chain->rgpChain[0]->rgpElement[0]->pCertContext);
    if (pins.PinsCertificates() && !ChainHoldsPin(api, chain, pins))
        result.failure = SignerFailure::kNoPinnedCertificate;
    else if (pins.ChecksName() && result.signerName != pins.Name())
        result.failure = SignerFailure::kNameDiffers;
    return result;
}

WString SignerLogLine(const SignerResult& result, const WString& displayPath) {
    const char16_t* text = SignerFailureLogText(result.failure);
    if (!text) return WString();
    switch (result.failure) {
        case SignerFailure::kNameDiffers:
            return text + result.signerName + u" (" + displayPath + u")";
        case SignerFailure::kBadSignature:
        case SignerFailure::kUntrustedChain:
        case SignerFailure::kNotChecked:
            return text + displayPath + u" Error:" + SystemMessageText(result.code).Trimmed();
        default:
            return text + displayPath;
    }
}
