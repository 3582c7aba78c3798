// Authenticode trust of executable files (module "Taurix.Windows.Trust"):
// WinVerifyTrust with the generic verification action, through a system
// catalog that lists the file's hash or else through the file's own
// signature, with the signer certificate's details on request. The trust
// library is loaded at run time, once, by its loader's start-up (TrustLibrary.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Handles.h"

enum TTrustStatus {
    tsSuccess,
    tsNoSignature,
    tsExplizitDistrust,
    tsSubjectNotTrusted,
    tsSecuritySettings,
    tsUnavailable,
    tsUnknown
};

enum TCertificateField {
    cfSerialNumber,
    cfSubjectEmail,
    cfSubjectName,
    cfIssuerEmail,
    cfIssuerName
};

// A set of certificate fields in one byte: bit n stands for ordinal n.
struct TCertificateFields {
    std::uint8_t Bits = 0;

    static constexpr TCertificateFields All() { return {31}; }
    constexpr bool Contains(TCertificateField AField) const { return (Bits >> AField) & 1; }
    constexpr bool Empty() const { return Bits == 0; }
    friend constexpr bool operator==(TCertificateFields, TCertificateFields) = default;
};

// A date and time to the second; all zero is the zero date-time.
struct TDateTime {
    std::uint16_t Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;

    constexpr bool IsZero() const { return *this == TDateTime{}; }
    friend constexpr bool operator==(const TDateTime&, const TDateTime&) = default;
};

// The platform records in their 12-, 6- and 4-field forms. Their size field
// holds the size of the form on the build's architecture: the 32-bit sizes
// (48, 24, 16) would cut the 64-bit records (80, 40, 32) short, and
// WinVerifyTrust would then ignore the state action and return no state data.
struct TCATALOG_INFO {
    DWORD cbStruct;
    WCHAR sCatalogFile[MAX_PATH];
};

struct TWINTRUST_DATA {
    DWORD cbStruct;
    LPVOID pPolicyCallbackData;
    LPVOID pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    LPVOID pFile; // the catalog or the file record, as dwUnionChoice says
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    LPWSTR pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
};

struct TWINTRUST_CATALOG_INFO {
    DWORD cbStruct;
    DWORD dwCatalogVersion;
    LPCWSTR pcwszCatalogFilePath;
    LPCWSTR pcwszMemberTag;
    LPCWSTR pcwszMemberFilePath;
    HANDLE hMemberFile;
};

struct TWINTRUST_FILE_INFO {
    DWORD cbStruct;
    LPCWSTR pcwszFilePath;
    HANDLE hFile;
    const GUID* pgKnownSubject;
};

static_assert(sizeof(TWINTRUST_DATA) == (sizeof(void*) == 8 ? 80 : 48));
static_assert(sizeof(TWINTRUST_CATALOG_INFO) == (sizeof(void*) == 8 ? 40 : 24));
static_assert(sizeof(TWINTRUST_FILE_INFO) == (sizeof(void*) == 8 ? 32 : 16));

class TWinTrustChecker {
public:
    // Not available, no details requested, all records zeroed.
    TWinTrustChecker();
    TWinTrustChecker(const TWinTrustChecker&) = delete;
    TWinTrustChecker& operator=(const TWinTrustChecker&) = delete;
    // Releases the catalog administrator context, if one is held.
    virtual ~TWinTrustChecker();

    // Makes the checker available: only with the trust library and all its
    // entry points loaded, and a catalog administrator context obtained.
    bool Init();
    // Empties the five texts and zeroes both dates.
    void Clear();
    // The raw WinVerifyTrust result; -1 when the checker is not available or
    // the file cannot be opened.
    LONG CheckFileTrustAPI(const std::wstring& AFilename);
    // tsUnavailable, untouched, when the checker is not available.
    virtual TTrustStatus CheckFileTrust(const std::wstring& AFilename);
    // Removes every certificate of the file; true when the last removal (of
    // index 0) succeeded, false when there was none or the checker is not available.
    bool RemoveCertificate(const std::wstring& AFilename);

    bool Available() const { return FAvailable; }
    TCertificateFields RetrieveProperties() const { return FRetrieveProperties; }
    void SetRetrieveProperties(TCertificateFields AValue) { FRetrieveProperties = AValue; }
    const std::wstring& SubjectName() const { return FSubjectName; }
    const std::wstring& SubjectEmail() const { return FSubjectEmail; }
    const std::wstring& IssuerName() const { return FIssuerName; }
    const std::wstring& IssuerEmail() const { return FIssuerEmail; }
    const std::wstring& SerialNumber() const { return FSerialNumber; }
    const TDateTime& ValidFrom() const { return FValidFrom; }
    const TDateTime& ValidTo() const { return FValidTo; }
    // The last check's raw result, the reason behind its status: what
    // WinVerifyTrust answered, or the opening's error as an HRESULT when the
    // file could not be opened; none when nothing was checked.
    std::optional<LONG> Result() const { return FResult; }

private:
    void RetrieveCertificateDetails();

    TBoundHandle<HANDLE> FCatalogAdminContext; // pointer-sized: a handle on 64-bit too
    bool FAvailable = false;
    TCATALOG_INFO FCatalogInfo = {};
    TWINTRUST_DATA FWTrustData = {};
    TWINTRUST_CATALOG_INFO FWTCatalogInfo = {};
    TWINTRUST_FILE_INFO FWTFileInfo = {};
    TCertificateFields FRetrieveProperties;
    std::wstring FSerialNumber;
    std::wstring FSubjectName;
    std::wstring FSubjectEmail;
    std::wstring FIssuerName;
    std::wstring FIssuerEmail;
    TDateTime FValidFrom;
    TDateTime FValidTo;
    std::optional<LONG> FResult;
};

TTrustStatus TrustResultToStatus(LONG AResult);
// A raw result as "0x" and eight upper-case hexadecimal digits ("0x800B0109").
std::wstring TrustResultCode(LONG AResult);
// The system's text for a raw result; where the system has none, words of
// our own for the common results of a trust check; else empty.
std::wstring TrustResultMessage(LONG AResult);
// The status's words ("success", "no signature", ...) through Translate.
std::wstring TrustStatusToText(TTrustStatus AStatus);
// The words untranslated.
const wchar_t* TrustStatusWords(TTrustStatus AStatus);
// One file with a checker of its own, without details. A checker that cannot
// be made available gives tsUnknown here, not tsUnavailable.
TTrustStatus FileTrustStatus(const std::wstring& AFilename);

// A certificate time as local time at two-second resolution, by way of the
// DOS date and time; zero for a zero time and outside 1980 to 2107. Local is
// the zone AZone (the system's own when null) with its rule for that date:
// a summer date shows summer time in winter too.
TDateTime CertificateTimeToDateTime(const FILETIME& ATime,
                                    const TIME_ZONE_INFORMATION* AZone = nullptr);
TDateTime DosDateTimeToDateTime(WORD ADate, WORD ATime);
