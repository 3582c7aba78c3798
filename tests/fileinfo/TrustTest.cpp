// The trust checker against real signatures made at build time: unsigned,
// signed by the test CA (trusted in this prefix), signed by a CA nobody
// trusts, signed then changed, missing.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/DebugLogger.h"
#include "diagnostics/Translate.h"
#include "fileinfo/TrustChecker.h"
#include "fileinfo/TrustCheckerInitialized.h"
#include "fileinfo/TrustLibrary.h"
#include "fileinfo/TrustWarmUp.h"
#include "fixtures/fileidentity/TestCA.h"
#include "platform/SystemMessage.h"
#include "platform/WinText.h"
#include "tests/support/TestFiles.h"

namespace {

std::wstring Sample(const wchar_t* AName) {
    return FixturePath(std::wstring(L"trust\\") + AName);
}

// The signing certificate as openssl describes it ("key=value" lines).
std::map<std::string, std::string> SignerAsOpensslSaysIt() {
    std::map<std::string, std::string> values;
    const std::string text = ReadWholeFile(FixturePath(L"testca\\signer.txt"));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
        start = end + 1;
    }
    return values;
}

// One attribute of an RFC 2253 name such as "emailAddress=a@b,O=Org,CN=Name".
std::wstring NameAttribute(const std::string& AName, const std::string& AKey) {
    const std::string prefix = AKey + "=";
    size_t start = 0;
    while (start < AName.size()) {
        size_t end = AName.find(',', start);
        if (end == std::string::npos)
            end = AName.size();
        if (AName.compare(start, prefix.size(), prefix) == 0)
            return Utf8ToWide(AName.substr(start + prefix.size(), end - start - prefix.size()));
        start = end + 1;
    }
    return {};
}

// "Dec 10 05:48:08 2026 GMT" as openssl prints it, as the checker renders it.
TDateTime OpensslTime(const std::string& AText) {
    static const std::string Months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    SYSTEMTIME utc = {};
    char month[4] = {};
    int day = 0, hour = 0, minute = 0, second = 0, year = 0;
    if (std::sscanf(AText.c_str(), "%3s %d %d:%d:%d %d", month, &day, &hour, &minute, &second,
                    &year) != 6)
        return {};
    utc.wYear = static_cast<WORD>(year);
    utc.wMonth = static_cast<WORD>(Months.find(month) / 3 + 1);
    utc.wDay = static_cast<WORD>(day);
    utc.wHour = static_cast<WORD>(hour);
    utc.wMinute = static_cast<WORD>(minute);
    utc.wSecond = static_cast<WORD>(second);
    FILETIME time;
    ::SystemTimeToFileTime(&utc, &time);
    return CertificateTimeToDateTime(time);
}

std::vector<std::wstring> LogLines;
void CollectLine(const std::wstring& ALine) {
    LogLines.push_back(ALine);
}

class Trust : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TrustLibraryStartUp();
        ASSERT_TRUE(TrustTestCA(FixturePath(L"testca\\ca.cer")));
    }
    static void TearDownTestSuite() { TrustLibraryShutDown(); }
};

struct TTrustCase {
    const char* Name;
    const wchar_t* File;
    LONG Result;
    TTrustStatus Status;
};

const std::vector<TTrustCase> TrustCases = {
    {"unsigned", L"unsigned.exe", TRUST_E_NOSIGNATURE, tsNoSignature},
    {"signedByTheTrustedCA", L"signed.exe", 0, tsSuccess},
    {"signedByAnUntrustedCA", L"untrusted.exe", CERT_E_UNTRUSTEDROOT, tsUnknown},
    {"tampered", L"tampered.exe", TRUST_E_BAD_DIGEST, tsUnknown},
    {"missing", L"missing.exe", -1, tsUnknown},
};

// What each check hands to the platform, seen on its way there.
struct TVerifyCall {
    HWND Window;
    DWORD StateAction;
    DWORD RevocationChecks;
    DWORD ProviderFlags;
};
std::vector<TVerifyCall> VerifyCalls;
TWinVerifyTrust PlatformWinVerifyTrust = nullptr;

LONG WINAPI RecordingWinVerifyTrust(HWND AWindow, GUID* AAction, LPVOID AData) {
    const auto& data = *static_cast<const TWINTRUST_DATA*>(AData);
    VerifyCalls.push_back(
        {AWindow, data.dwStateAction, data.fdwRevocationChecks, data.dwProvFlags});
    return PlatformWinVerifyTrust(AWindow, AAction, AData);
}

// Each sample's result, status and reason; no check asks for anything that
// is not on the machine.
TEST_F(Trust, EachSampleGivesItsResultAndStatus) {
    VerifyCalls.clear();
    PlatformWinVerifyTrust = ReplaceWinVerifyTrust(RecordingWinVerifyTrust);
    TWinTrustChecker checker;
    ASSERT_TRUE(checker.Init());
    checker.SetRetrieveProperties(TCertificateFields::All());
    for (const TTrustCase& row : TrustCases) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(checker.CheckFileTrustAPI(Sample(row.File)), row.Result);
        EXPECT_EQ(checker.CheckFileTrust(Sample(row.File)), row.Status);
        EXPECT_EQ(FileTrustStatus(Sample(row.File)), row.Status);
        if (row.Status == tsNoSignature || row.Result == -1) {
            EXPECT_EQ(checker.SubjectName(), L"");
        }
        // The reason behind the status; for a file that could not be opened
        // the opening's error.
        const LONG reason =
            row.Result == -1 ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) : row.Result;
        EXPECT_EQ(checker.Result(), std::optional<LONG>(reason));
    }
    ReplaceWinVerifyTrust(PlatformWinVerifyTrust);

    // A verification and its close in each of the three checks of every file
    // that could be opened.
    const auto opened = std::count_if(TrustCases.begin(), TrustCases.end(),
                                      [](const TTrustCase& ARow) { return ARow.Result != -1; });
    ASSERT_EQ(VerifyCalls.size(), 2 * 3 * static_cast<size_t>(opened));
    for (size_t i = 0; i < VerifyCalls.size(); ++i) {
        SCOPED_TRACE(i);
        // No window to show anything in, and none fetched for the check.
        EXPECT_EQ(VerifyCalls[i].Window, nullptr);
        EXPECT_EQ(VerifyCalls[i].StateAction, i % 2 == 0 ? 1u : 2u); // verify, close
        EXPECT_EQ(VerifyCalls[i].RevocationChecks, 0u);              // WTD_REVOKE_NONE
        // WTD_SAFER_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL
        EXPECT_EQ(VerifyCalls[i].ProviderFlags, 0x1100u);
    }
}

// The checks wait for the warm-up that runs beside them and then give what
// they give without it; once it is over, waiting for it returns at once.
TEST_F(Trust, ChecksMadeWhileTheWarmUpRunsGiveTheirResultsAsEver) {
    TrustWarmUpStartUp();
    TWinTrustChecker checker;
    ASSERT_TRUE(checker.Init());
    for (const TTrustCase& row : TrustCases)
        EXPECT_EQ(checker.CheckFileTrustAPI(Sample(row.File)), row.Result) << row.Name;
    TrustWarmUpShutDown();
    WaitForTrustWarmUp();
    EXPECT_EQ(checker.CheckFileTrustAPI(Sample(L"signed.exe")), 0);
}

TEST(TrustResult, CodesAreEightHexDigitsAndMessagesTheSystemsTextOrOurs) {
    EXPECT_EQ(TrustResultCode(CERT_E_UNTRUSTEDROOT), L"0x800B0109");
    EXPECT_EQ(TrustResultCode(0), L"0x00000000");
    EXPECT_EQ(TrustResultCode(-1), L"0xFFFFFFFF");
    for (const LONG result : {TRUST_E_NOSIGNATURE, CERT_E_UNTRUSTEDROOT, TRUST_E_BAD_DIGEST,
                              CERT_E_EXPIRED, CERT_E_REVOKED}) {
        SCOPED_TRACE(WideToUtf8(TrustResultCode(result)));
        const std::wstring system = SystemMessage(static_cast<DWORD>(result));
        if (!system.empty()) {
            EXPECT_EQ(TrustResultMessage(result), system);
        }
        EXPECT_FALSE(TrustResultMessage(result).empty()) << "words of our own where none";
    }
    EXPECT_EQ(TrustResultMessage(0x800BFFFF), L"") << "a code nobody has words for";
}

TEST_F(Trust, ASignedFileGivesTheSignersDetailsAsOpensslReadsThem) {
    const auto openssl = SignerAsOpensslSaysIt();
    TWinTrustChecker checker;
    ASSERT_TRUE(checker.Init());
    checker.SetRetrieveProperties(TCertificateFields::All());
    ASSERT_EQ(checker.CheckFileTrust(Sample(L"signed.exe")), tsSuccess);
    EXPECT_EQ(checker.SubjectName(), NameAttribute(openssl.at("subject"), "CN"));
    EXPECT_EQ(checker.SubjectEmail(), NameAttribute(openssl.at("subject"), "emailAddress"));
    EXPECT_EQ(checker.IssuerName(), NameAttribute(openssl.at("issuer"), "CN"));
    EXPECT_EQ(checker.IssuerEmail(), NameAttribute(openssl.at("issuer"), "emailAddress"));
    EXPECT_EQ(checker.SerialNumber(), Utf8ToWide(openssl.at("serial")));
    EXPECT_EQ(checker.ValidFrom(), OpensslTime(openssl.at("notBefore")));
    EXPECT_EQ(checker.ValidTo(), OpensslTime(openssl.at("notAfter")));
    EXPECT_FALSE(checker.ValidFrom().IsZero());
    EXPECT_EQ(checker.SubjectName(), L"Derodo Test Code Signing");

    // The next check starts from nothing: an unsigned file leaves no details.
    EXPECT_EQ(checker.CheckFileTrust(Sample(L"unsigned.exe")), tsNoSignature);
    EXPECT_EQ(checker.SubjectName(), L"");
    EXPECT_EQ(checker.SerialNumber(), L"");
    EXPECT_TRUE(checker.ValidTo().IsZero());
}

TEST_F(Trust, DetailsComeOnlyAsRequestedTheStatusRegardless) {
    TWinTrustChecker checker;
    ASSERT_TRUE(checker.Init());
    EXPECT_EQ(checker.RetrieveProperties(), TCertificateFields{});
    EXPECT_EQ(checker.CheckFileTrust(Sample(L"signed.exe")), tsSuccess);
    EXPECT_EQ(checker.SubjectName(), L"");
    EXPECT_EQ(checker.SerialNumber(), L"");
    EXPECT_TRUE(checker.ValidFrom().IsZero());

    // Serial number and dates come with any request; names only as asked.
    checker.SetRetrieveProperties({1 << cfIssuerName});
    EXPECT_EQ(checker.CheckFileTrust(Sample(L"signed.exe")), tsSuccess);
    EXPECT_EQ(checker.IssuerName(), L"Derodo Test Root CA");
    EXPECT_EQ(checker.SubjectName(), L"");
    EXPECT_EQ(checker.SubjectEmail(), L"");
    EXPECT_EQ(checker.IssuerEmail(), L"");
    EXPECT_FALSE(checker.SerialNumber().empty());
    EXPECT_FALSE(checker.ValidTo().IsZero());
    EXPECT_EQ(checker.RetrieveProperties(), TCertificateFields{1 << cfIssuerName});
}

TEST_F(Trust, WithoutTheLibraryEveryCheckTriesAgainUntilItIsBack) {
    DebugHandlerData()->RegisterDebugLogLineHandler(CollectLine);
    LogLines.clear();
    TrustLibraryShutDown();
    EXPECT_FALSE(TrustLibrary().Complete());

    TInitializedTrustChecker checker;
    checker.SetRetrieveProperties(TCertificateFields::All());
    EXPECT_EQ(checker.CheckFileTrust(Sample(L"signed.exe")), tsUnavailable);
    EXPECT_EQ(checker.CheckFileTrust(Sample(L"signed.exe")), tsUnavailable);
    EXPECT_FALSE(checker.Available());
    EXPECT_EQ(checker.CheckFileTrustAPI(Sample(L"signed.exe")), -1);
    EXPECT_FALSE(checker.Result().has_value()) << "nothing was checked";
    EXPECT_FALSE(checker.RemoveCertificate(Sample(L"signed.exe")));
    EXPECT_EQ(FileTrustStatus(Sample(L"signed.exe")), tsUnknown);

    TrustLibraryStartUp();
    EXPECT_TRUE(TrustLibrary().Complete());
    EXPECT_EQ(checker.CheckFileTrust(Sample(L"signed.exe")), tsSuccess);
    EXPECT_TRUE(checker.Available());
    EXPECT_EQ(checker.SubjectName(), L"Derodo Test Code Signing");
    DebugHandlerData()->RemoveDebugLogLineHandler(CollectLine);

    // Nothing checked while the library was gone; the check afterwards with
    // its raw result.
    const std::vector<std::wstring> expected = {
        L"> [unit finalization] vxnWinAPITrust", L"< [unit finalization] vxnWinAPITrust",
        L"> [unit initialization] vxnWinAPITrust", L"< [unit initialization] vxnWinAPITrust",
        L"Trust check of \"" + Sample(L"signed.exe") + L"\": 0x00000000 " + SystemMessage(0)};
    ASSERT_EQ(LogLines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::wstring& line = LogLines[i];
        EXPECT_EQ(line.substr(line.size() - std::min(line.size(), expected[i].size())),
                  expected[i]);
    }
}

TEST_F(Trust, TheProcessWideCheckerLivesFromStartUpToShutDown) {
    EXPECT_EQ(TrustChecker(), nullptr);
    TrustCheckerStartUp();
    ASSERT_NE(TrustChecker(), nullptr);
    EXPECT_FALSE(TrustChecker()->Available()); // until its first check
    EXPECT_EQ(TrustChecker()->CheckFileTrust(Sample(L"unsigned.exe")), tsNoSignature);
    EXPECT_TRUE(TrustChecker()->Available());
    TrustCheckerShutDown();
    EXPECT_EQ(TrustChecker(), nullptr);
}

TEST_F(Trust, RemovingTheCertificatesLeavesAnUnsignedFile) {
    TScratchFolder folder;
    const std::wstring copy = folder.Copy(Sample(L"signed.exe"), L"stripped.exe");
    const std::wstring unsignedCopy = folder.Copy(Sample(L"unsigned.exe"), L"unsigned.exe");
    TWinTrustChecker checker;
    ASSERT_TRUE(checker.Init());
    EXPECT_TRUE(checker.RemoveCertificate(copy));
    EXPECT_EQ(checker.CheckFileTrust(copy), tsNoSignature);
    EXPECT_FALSE(checker.RemoveCertificate(copy)) << "nothing left to remove";
    EXPECT_FALSE(checker.RemoveCertificate(unsignedCopy));
    EXPECT_FALSE(checker.RemoveCertificate(folder.Path() + L"missing.exe"));
}

TEST(TrustStatus, ResultsMapToStatusesAndStatusesToTranslatedWords) {
    EXPECT_EQ(TrustResultToStatus(0), tsSuccess);
    EXPECT_EQ(TrustResultToStatus(TRUST_E_NOSIGNATURE), tsNoSignature);
    EXPECT_EQ(TrustResultToStatus(TRUST_E_EXPLICIT_DISTRUST), tsExplizitDistrust);
    EXPECT_EQ(TrustResultToStatus(TRUST_E_SUBJECT_NOT_TRUSTED), tsSubjectNotTrusted);
    EXPECT_EQ(TrustResultToStatus(CERT_E_UNTRUSTEDROOT), tsUnknown);
    EXPECT_EQ(TrustResultToStatus(-1), tsUnknown);

    const std::wstring language = CurrentLanguage();
    const std::vector<std::pair<const wchar_t*, const wchar_t*>> words = {
        {L"success", L"Erfolg"},
        {L"no signature", L"keine Signatur"},
        {L"explicit distrust", L"ausdrücklich nicht vertrauenswürdig"},
        {L"subject not trusted", L"Antragsteller nicht vertrauenswürdig"},
        {L"security settings", L"Sicherheitseinstellungen"},
        {L"unavailable", L"nicht verfügbar"},
        {L"unknown", L"unbekannt"},
    };
    for (int status = tsSuccess; status <= tsUnknown; ++status) {
        const auto trustStatus = static_cast<TTrustStatus>(status);
        EXPECT_STREQ(TrustStatusWords(trustStatus), words[status].first);
        UseLanguage(L"en_IE");
        EXPECT_EQ(TrustStatusToText(trustStatus), words[status].first);
        UseLanguage(L"de");
        EXPECT_EQ(TrustStatusToText(trustStatus), words[status].second);
    }
    UseLanguage(language);
}

TEST(TrustDates, CertificateTimesBecomeLocalTwoSecondDates) {
    EXPECT_EQ(DosDateTimeToDateTime(0x5D8A, 0x29F5), (TDateTime{2026, 12, 10, 5, 15, 42}));

    EXPECT_TRUE(CertificateTimeToDateTime(FILETIME{0, 0}).IsZero());
    const auto fileTime = [](WORD AYear, WORD AMonth, WORD ADay, WORD ASecond) {
        SYSTEMTIME utc = {};
        utc.wYear = AYear;
        utc.wMonth = AMonth;
        utc.wDay = ADay;
        utc.wHour = 12;
        utc.wSecond = ASecond;
        FILETIME time;
        ::SystemTimeToFileTime(&utc, &time);
        return time;
    };
    EXPECT_TRUE(CertificateTimeToDateTime(fileTime(1979, 6, 1, 0)).IsZero());
    EXPECT_TRUE(CertificateTimeToDateTime(fileTime(2108, 6, 1, 0)).IsZero());

    // Without a zone, the system's own for that date.
    const FILETIME odd = fileTime(2030, 6, 1, 37);
    SYSTEMTIME utc;
    SYSTEMTIME expected;
    ::FileTimeToSystemTime(&odd, &utc);
    ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &expected);
    EXPECT_EQ(CertificateTimeToDateTime(odd),
              (TDateTime{expected.wYear, expected.wMonth, expected.wDay, expected.wHour,
                         expected.wMinute, 36}));
}

// Every date with the offset its own half of the year has, whatever today's
// is: Berlin, one hour ahead of UTC in winter and two in summer (from 1:00 UTC
// on the last Sunday of March to 1:00 UTC on the last Sunday of October).
TEST(TrustDates, EachDateTakesTheOffsetOfItsOwnSeason) {
    TIME_ZONE_INFORMATION berlin = {};
    berlin.Bias = -60;
    berlin.StandardDate = {0, 10, 0, 5, 3, 0, 0, 0}; // last Sunday of October, 3:00
    berlin.DaylightDate = {0, 3, 0, 5, 2, 0, 0, 0};  // last Sunday of March, 2:00
    berlin.DaylightBias = -60;
    const auto at = [](WORD AYear, WORD AMonth, WORD ADay, WORD AHour, WORD AMinute, WORD ASecond) {
        SYSTEMTIME utc = {};
        utc.wYear = AYear;
        utc.wMonth = AMonth;
        utc.wDay = ADay;
        utc.wHour = AHour;
        utc.wMinute = AMinute;
        utc.wSecond = ASecond;
        FILETIME time;
        ::SystemTimeToFileTime(&utc, &time);
        return time;
    };
    const std::pair<FILETIME, TDateTime> cases[] = {
        {at(2026, 8, 18, 17, 32, 39), {2026, 8, 18, 19, 32, 38}},
        {at(2026, 1, 18, 17, 32, 39), {2026, 1, 18, 18, 32, 38}},
        {at(2026, 3, 29, 0, 59, 59), {2026, 3, 29, 1, 59, 58}}, // the last winter second
        {at(2026, 3, 29, 1, 0, 0), {2026, 3, 29, 3, 0, 0}},     // the first summer one
        {at(2026, 10, 25, 0, 59, 58), {2026, 10, 25, 2, 59, 58}},
        {at(2026, 10, 25, 1, 0, 0), {2026, 10, 25, 2, 0, 0}},
        {at(2026, 12, 31, 23, 30, 1), {2027, 1, 1, 0, 30, 0}}, // into the next year
    };
    for (const auto& [time, expected] : cases)
        EXPECT_EQ(CertificateTimeToDateTime(time, &berlin), expected)
            << expected.Month << "/" << expected.Day << " " << expected.Hour;
}

} // namespace
