#include "fileinfo/TrustChecker.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <imagehlp.h>

#include <cstddef>
#include <utility>

#include "diagnostics/DebugLogger.h"
#include "diagnostics/Translate.h"
#include "fileinfo/TrustLibrary.h"
#include "fileinfo/TrustWarmUp.h"
#include "platform/Handles.h"
#include "platform/SystemMessage.h"

// The catalog record is handed to the platform as its own.
static_assert(sizeof(TCATALOG_INFO) == sizeof(CATALOG_INFO) &&
              offsetof(TCATALOG_INFO, sCatalogFile) == offsetof(CATALOG_INFO, wszCatalogFile));

namespace {

// WINTRUST_ACTION_GENERIC_VERIFY_V2
const GUID GenericVerifyV2 = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

// No check may wait on the network: nothing is fetched for revocation, and
// the chain is built from what the machine already holds, so that an offline
// or proxied machine answers as fast as any other.
constexpr DWORD RevocationChecks = WTD_REVOKE_NONE;
constexpr DWORD ProviderFlags = WTD_SAFER_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL;
constexpr DWORD CatalogHashSize = 256;
constexpr DWORD NameBufferLength = 256;

void AppendHex(std::wstring& AText, BYTE AByte) {
    static constexpr wchar_t Digits[] = L"0123456789ABCDEF";
    AText += Digits[AByte >> 4];
    AText += Digits[AByte & 15];
}

// One name of the certificate, cut to 255 characters; empty when it has none.
std::wstring CertificateName(PCCERT_CONTEXT ACertificate, DWORD AType, DWORD AFlags) {
    wchar_t buffer[NameBufferLength] = {};
    if (::CertGetNameStringW(ACertificate, AType, AFlags, nullptr, buffer, NameBufferLength) == 0)
        return {};
    buffer[NameBufferLength - 1] = L'\0';
    return buffer;
}

// Words for the common results of a trust check, where the system has none.
constexpr std::pair<DWORD, const wchar_t*> OwnResultWords[] = {
    {0x800B0100, L"The file carries no signature"}, // TRUST_E_NOSIGNATURE
    // CERT_E_UNTRUSTEDROOT
    {0x800B0109, L"The certificate chain ends in a root certificate that is not trusted"},
    {0x800B010A, L"No certificate chain could be built to a trusted root"}, // CERT_E_CHAINING
    {0x800B0101, L"A certificate is outside its validity period"},          // CERT_E_EXPIRED
    {0x800B010C, L"A certificate was revoked by its issuer"},               // CERT_E_REVOKED
    {0x80096010, L"The file's content does not match its signature"},       // TRUST_E_BAD_DIGEST
    {0x800B0111, L"A certificate is marked as not trusted"},    // TRUST_E_EXPLICIT_DISTRUST
    {0x800B0004, L"The subject is not trusted for the action"}, // TRUST_E_SUBJECT_NOT_TRUSTED
};

// Every check's raw result in the debug log, whatever its status words hide.
void LogTrustResult(const std::wstring& AFilename, LONG AResult) {
    if (TDebugLogger* logger = DebugLogger())
        logger->LogMessage(L"Trust check of \"" + AFilename + L"\": " + TrustResultCode(AResult) +
                               L" " + TrustResultMessage(AResult),
                           dlvDefault);
}

} // namespace

TDateTime DosDateTimeToDateTime(WORD ADate, WORD ATime) {
    TDateTime result;
    result.Year = static_cast<std::uint16_t>(1980 + (ADate >> 9));
    result.Month = static_cast<std::uint16_t>((ADate >> 5) & 15);
    result.Day = static_cast<std::uint16_t>(ADate & 31);
    result.Hour = static_cast<std::uint16_t>(ATime >> 11);
    result.Minute = static_cast<std::uint16_t>((ATime >> 5) & 63);
    result.Second = static_cast<std::uint16_t>(2 * (ATime & 31));
    return result;
}

TDateTime CertificateTimeToDateTime(const FILETIME& ATime, const TIME_ZONE_INFORMATION* AZone) {
    if (ATime.dwLowDateTime == 0 && ATime.dwHighDateTime == 0)
        return {};
    // FileTimeToLocalFileTime would apply today's offset to every date.
    SYSTEMTIME utc;
    SYSTEMTIME fields;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!::FileTimeToSystemTime(&ATime, &utc) ||
        !::SystemTimeToTzSpecificLocalTime(AZone, &utc, &fields) ||
        !::SystemTimeToFileTime(&fields, &local))
        return {};
    // The DOS format holds the years 1980 to 2107. Windows refuses other
    // years; Wine wraps the later ones round to 1980.
    if (fields.wYear < 1980 || fields.wYear > 2107 ||
        !::FileTimeToDosDateTime(&local, &date, &time))
        return {};
    return DosDateTimeToDateTime(date, time);
}

TWinTrustChecker::TWinTrustChecker() = default;

TWinTrustChecker::~TWinTrustChecker() = default;

bool TWinTrustChecker::Init() {
    if (FAvailable)
        return true;
    if (!TrustLibrary().Complete())
        return false;
    HANDLE context = nullptr;
    if (TrustLibrary().CryptCATAdminAcquireContext(&context, nullptr, 0) && context) {
        // A checker that outlives the library cannot release its context; the
        // system does when the process ends.
        FCatalogAdminContext = TBoundHandle<HANDLE>(context, [](HANDLE AContext) {
            if (TrustLibrary().Complete())
                TrustLibrary().CryptCATAdminReleaseContext(AContext, 0);
        });
        FAvailable = true;
    }
    return FAvailable;
}

void TWinTrustChecker::Clear() {
    FSerialNumber.clear();
    FSubjectName.clear();
    FSubjectEmail.clear();
    FIssuerName.clear();
    FIssuerEmail.clear();
    FValidFrom = {};
    FValidTo = {};
}

LONG TWinTrustChecker::CheckFileTrustAPI(const std::wstring& AFilename) {
    Clear();
    FResult.reset();
    // The library may have gone since Init; then nothing can be checked.
    if (!FAvailable || !TrustLibrary().Complete())
        return -1;

    BYTE hash[CatalogHashSize];
    DWORD hashSize = CatalogHashSize;
    bool hashed = false;
    bool embeddedSignature = true;
    std::wstring memberTag;
    {
        TFileHandle file(::CreateFileW(AFilename.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            FResult = HRESULT_FROM_WIN32(::GetLastError());
            LogTrustResult(AFilename, *FResult);
            return -1;
        }
        hashed =
            TrustLibrary().CryptCATAdminCalcHashFromFileHandle(file.get(), &hashSize, hash, 0) &&
            hashSize <= CatalogHashSize;
        for (DWORD i = 0; hashed && i < hashSize; ++i)
            AppendHex(memberTag, hash[i]);
        DWORD certificates = 0;
        if (::ImageEnumerateCertificates(file.get(), CERT_SECTION_TYPE_ANY, &certificates, nullptr,
                                         0))
            embeddedSignature = certificates > 0;
    }

    FWTrustData.cbStruct = sizeof(TWINTRUST_DATA);
    FWTrustData.dwUIChoice = WTD_UI_NONE;
    FWTrustData.fdwRevocationChecks = RevocationChecks;
    FWTrustData.dwStateAction = WTD_STATEACTION_VERIFY;
    FWTrustData.dwProvFlags = ProviderFlags;
    // Written by the platform; cleared so that a verification that fails
    // before writing it cannot hand the previous check's state to this one.
    FWTrustData.hWVTStateData = nullptr;

    const HANDLE admin = FCatalogAdminContext.get();
    const TBoundHandle<HANDLE> catalog(
        hashed ? TrustLibrary().CryptCATAdminEnumCatalogFromHash(admin, hash, hashSize, 0, nullptr)
               : nullptr,
        [admin](HANDLE ACatalog) {
            if (TrustLibrary().Complete())
                TrustLibrary().CryptCATAdminReleaseCatalogContext(admin, ACatalog, 0);
        });
    // A file signed by no catalog and carrying no certificates is answered
    // without a chain; every other check builds one and waits for the
    // warm-up's chain engine rather than making a second beside it.
    if (catalog || embeddedSignature) {
        WaitForTrustWarmUp();
    }
    // The system checks the catalog record's size before it fills the record.
    FCatalogInfo.cbStruct = sizeof(TCATALOG_INFO);
    if (catalog && TrustLibrary().CryptCATCatalogInfoFromContext(
                       catalog.get(), reinterpret_cast<CATALOG_INFO*>(&FCatalogInfo), 0)) {
        FWTCatalogInfo.cbStruct = sizeof(TWINTRUST_CATALOG_INFO);
        FWTCatalogInfo.pcwszCatalogFilePath = FCatalogInfo.sCatalogFile;
        FWTCatalogInfo.pcwszMemberTag = memberTag.c_str();
        FWTCatalogInfo.pcwszMemberFilePath = AFilename.c_str();
        FWTrustData.dwUnionChoice = WTD_CHOICE_CATALOG;
        FWTrustData.pFile = &FWTCatalogInfo;
    } else {
        FWTFileInfo.cbStruct = sizeof(TWINTRUST_FILE_INFO);
        FWTFileInfo.pcwszFilePath = AFilename.c_str();
        FWTFileInfo.hFile = nullptr;
        FWTFileInfo.pgKnownSubject = nullptr;
        FWTrustData.dwUnionChoice = WTD_CHOICE_FILE;
        FWTrustData.pFile = &FWTFileInfo;
    }

    GUID action = GenericVerifyV2;
    // No window: the checks show nothing (WTD_UI_NONE), whatever window they
    // are given. Wine answers INVALID_HANDLE_VALUE, the usual "no user present",
    // by fetching the desktop window, which connects a process that has no
    // window yet to the display (the report mode, some 40 ms); Windows does
    // not, and without UI the two values are alike there.
    const HWND noWindow = nullptr;
    const LONG result = TrustLibrary().WinVerifyTrust(noWindow, &action, &FWTrustData);
    FResult = result;
    LogTrustResult(AFilename, result);
    // The state goes back to the platform before the catalog is released.
    const TBoundHandle<HANDLE> state(FWTrustData.hWVTStateData, [&](HANDLE) {
        FWTrustData.dwStateAction = WTD_STATEACTION_CLOSE;
        if (TrustLibrary().Complete())
            TrustLibrary().WinVerifyTrust(noWindow, &action, &FWTrustData);
        FWTrustData.hWVTStateData = nullptr;
    });
    if (!FRetrieveProperties.Empty() && state)
        RetrieveCertificateDetails();
    return result;
}

void TWinTrustChecker::RetrieveCertificateDetails() {
    CRYPT_PROVIDER_DATA* provider =
        TrustLibrary().WTHelperProvDataFromStateData(FWTrustData.hWVTStateData);
    if (!provider)
        return;
    CRYPT_PROVIDER_SGNR* signer =
        TrustLibrary().WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (!signer || !signer->pasCertChain || signer->csCertChain == 0)
        return;
    PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
    if (!certificate || !certificate->pCertInfo)
        return;
    const CERT_INFO& info = *certificate->pCertInfo;

    // The certificate keeps its serial number least significant byte first.
    for (DWORD i = info.SerialNumber.cbData; i > 0; --i)
        AppendHex(FSerialNumber, info.SerialNumber.pbData[i - 1]);
    FValidFrom = CertificateTimeToDateTime(info.NotBefore);
    FValidTo = CertificateTimeToDateTime(info.NotAfter);

    if (FRetrieveProperties.Contains(cfSubjectName))
        FSubjectName = CertificateName(certificate, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0);
    if (FRetrieveProperties.Contains(cfSubjectEmail))
        FSubjectEmail = CertificateName(certificate, CERT_NAME_EMAIL_TYPE, 0);
    if (FRetrieveProperties.Contains(cfIssuerName))
        FIssuerName =
            CertificateName(certificate, CERT_NAME_FRIENDLY_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG);
    if (FRetrieveProperties.Contains(cfIssuerEmail))
        FIssuerEmail = CertificateName(certificate, CERT_NAME_EMAIL_TYPE, CERT_NAME_ISSUER_FLAG);
}

TTrustStatus TWinTrustChecker::CheckFileTrust(const std::wstring& AFilename) {
    if (!FAvailable)
        return tsUnavailable;
    return TrustResultToStatus(CheckFileTrustAPI(AFilename));
}

bool TWinTrustChecker::RemoveCertificate(const std::wstring& AFilename) {
    if (!FAvailable)
        return false;
    TFileHandle file(::CreateFileW(AFilename.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD count = 0;
    if (!::ImageEnumerateCertificates(file.get(), CERT_SECTION_TYPE_ANY, &count, nullptr, 0))
        return false;
    bool removed = false;
    for (DWORD index = count; index > 0; --index)
        removed = ::ImageRemoveCertificate(file.get(), index - 1) != FALSE;
    return removed;
}

TTrustStatus TrustResultToStatus(LONG AResult) {
    switch (static_cast<DWORD>(AResult)) {
    case 0:
        return tsSuccess;
    case 0x800B0100: // TRUST_E_NOSIGNATURE
        return tsNoSignature;
    case 0x800B0111: // TRUST_E_EXPLICIT_DISTRUST
        return tsExplizitDistrust;
    case 0x800B0004: // TRUST_E_SUBJECT_NOT_TRUSTED
        return tsSubjectNotTrusted;
    default:
        return tsUnknown;
    }
}

std::wstring TrustResultCode(LONG AResult) {
    std::wstring text = L"0x";
    const auto value = static_cast<DWORD>(AResult);
    for (int shift = 24; shift >= 0; shift -= 8)
        AppendHex(text, static_cast<BYTE>(value >> shift));
    return text;
}

std::wstring TrustResultMessage(LONG AResult) {
    std::wstring text = SystemMessage(static_cast<DWORD>(AResult));
    if (!text.empty())
        return text;
    // Windows has texts for all of these; Wine's message table lacks most, so
    // the common ones have words of our own.
    for (const auto& [result, words] : OwnResultWords) {
        if (result == static_cast<DWORD>(AResult))
            return words;
    }
    return text;
}

const wchar_t* TrustStatusWords(TTrustStatus AStatus) {
    switch (AStatus) {
    case tsSuccess:
        return L"success";
    case tsNoSignature:
        return L"no signature";
    case tsExplizitDistrust:
        return L"explicit distrust";
    case tsSubjectNotTrusted:
        return L"subject not trusted";
    case tsSecuritySettings:
        return L"security settings";
    case tsUnavailable:
        return L"unavailable";
    case tsUnknown:
        break;
    }
    return L"unknown";
}

std::wstring TrustStatusToText(TTrustStatus AStatus) {
    return Translate(TrustStatusWords(AStatus));
}

TTrustStatus FileTrustStatus(const std::wstring& AFilename) {
    TWinTrustChecker checker;
    checker.Init();
    return TrustResultToStatus(checker.CheckFileTrustAPI(AFilename));
}
