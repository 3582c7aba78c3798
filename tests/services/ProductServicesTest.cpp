// The product's service table, and the file-scan service operations on the
// real "QVScannerService" run by QVFSSvc.exe beside the test. These tests hold
// the lock of that service's name: no other test may use it meanwhile.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/DebugLogger.h"
#include "diagnostics/Translate.h"
#include "platform/ProgramPath.h"
#include "platform/WinText.h"
#include "services/ProductServices.h"
#include "tests/services/DebugLogCapture.h"
#include "tests/services/LoopbackProbe.h"
#include "tests/services/ServiceTestSupport.h"
#include "webclient/FileScanWebClient.h"

namespace {

constexpr long NoSuchService = ERROR_SERVICE_DOES_NOT_EXIST;

class ProductServiceTable : public ::testing::Test {
protected:
    void SetUp() override {
        UseLanguage(L"en_IE"); // no catalog: the English texts
        ProductServicesStartUp();
    }
    void TearDown() override {
        ProductServicesShutDown();
        UseLanguage(FLanguage);
    }

private:
    const std::wstring FLanguage = CurrentLanguage();
};

TEST_F(ProductServiceTable, SevenEntriesWithTheFileScanServiceAtOne) {
    struct TEntry {
        const wchar_t* FileName;
        const wchar_t* ServiceName;
        const wchar_t* DisplayName;
        DWORD WebPort;
    };
    const TEntry expected[] = {
        {L"QVFSSvc.exe", L"QVScannerService", L"Vexlo-Q&V 2 Scanner Service", 21322},
        {L"QVFSSvc.exe", L"QVScannerService", L"Vexlo-Q&V 2 Scanner Service", 21323},
        {L"QVMonSvc.exe", L"QVMonitorService", L"Vexlo-Q&V 2 Monitoring Service", 21325},
        {L"QVSODSvc.exe", L"QVScanOnDemandService", L"Vexlo-Q&V 2 Scan On Demand Service", 21326},
        {L"QVUpdSvc.exe", L"QVUpdateService", L"Vexlo-Q&V 2 Updating Service", 21321},
        {L"QVHookSvc.exe", L"QVHookService", L"Vexlo-Q&V 2 Live Protection Background Service", 0},
        {L"QVWSCSvc.exe", L"QVWSCService", L"Vexlo-Q&V 2 Security Center Service", 0},
    };
    ASSERT_EQ(ProductServices.size(), std::size(expected));
    for (size_t i = 0; i < ProductServices.size(); ++i) {
        EXPECT_EQ(ProductServices[i].FileName, expected[i].FileName) << i;
        EXPECT_EQ(ProductServices[i].ServiceName, expected[i].ServiceName) << i;
        EXPECT_EQ(ProductServices[i].DisplayName, expected[i].DisplayName) << i;
        EXPECT_FALSE(ProductServices[i].Description.empty()) << i;
        EXPECT_EQ(ProductServices[i].WebPort, expected[i].WebPort) << i;
    }
    EXPECT_EQ(ProductServices[FileScanServiceIndex].Description,
              L"System service responsible for scanning single files during on-access or custom "
              L"demand scans, as well as internet connections.");
    EXPECT_EQ(ProductServices[6].Description,
              L"Integration into the systems Windows Security Center.");

    ProductServicesShutDown();
    EXPECT_TRUE(ProductServices[FileScanServiceIndex].ServiceName.empty());
}

TEST_F(ProductServiceTable, TheTextsKeepTheLanguageActiveAtStartUp) {
    UseLanguage(L"de");
    ProductServicesStartUp();
    UseLanguage(L"en_IE");
    EXPECT_EQ(ProductServices[FileScanServiceIndex].DisplayName, L"Vexlo-Q&V 2 Scannerdienst");
    EXPECT_EQ(ProductServices[6].Description,
              L"Integration in das Windows-Sicherheitscenter des Systems.");
    EXPECT_EQ(ProductServices[FileScanServiceIndex].ServiceName, L"QVScannerService");

    // Every display text has its translation; a new start-up takes the new language.
    const auto german = ProductServices;
    ProductServicesStartUp();
    for (size_t i = 0; i < ProductServices.size(); ++i) {
        EXPECT_NE(german[i].DisplayName, ProductServices[i].DisplayName) << i;
        EXPECT_NE(german[i].Description, ProductServices[i].Description) << i;
    }
}

class FileScanServiceOperations : public ProductServiceTable {
protected:
    void SetUp() override {
        ProductServiceTable::SetUp();
        // A run that was cut short may have left the service behind.
        ASSERT_TRUE(FService.Delete());
        FLog.Clear();
    }

    TTestService FService{L"QVScannerService"};
    TDebugLogCapture FLog;
};

TEST_F(FileScanServiceOperations, AMissingServiceLogsThePrimitiveThenTheOperation) {
    struct TCase {
        bool (*Operation)();
        std::vector<TLoggedError> Errors;
    };
    const TCase cases[] = {
        {&FileScanServiceExists,
         {{L"vxnServiceExists.OpenServiceW", NoSuchService},
          {L"FileScanServiceExists", NoSuchService}}},
        {&FileScanServiceRunning,
         {{L"vxnServiceRunning.OpenServiceW", NoSuchService},
          {L"FileScanServiceRunning", NoSuchService}}},
        {&FileScanServiceStart,
         {{L"vxnServiceStart.OpenServiceW", NoSuchService},
          {L"FileScanServiceStart", NoSuchService}}},
    };
    for (const TCase& c : cases) {
        FLog.Clear();
        EXPECT_FALSE(c.Operation());
        EXPECT_EQ(FLog.Errors(), c.Errors);
    }
}

// As the state test asks: a missing or stopped service is a "no", a manager
// that refuses the question leaves the answer unknown with its code.
TEST_F(FileScanServiceOperations, AQuestionTheManagerRefusesIsUnknownNotNo) {
    EXPECT_EQ(AskFileScanServiceExists(), TAnswer::Of(false));
    EXPECT_EQ(AskFileScanServiceRunning(), TAnswer::Of(false));
    ASSERT_TRUE(FileScanServiceInstall());
    EXPECT_EQ(AskFileScanServiceExists(), TAnswer::Of(true));
    EXPECT_EQ(AskFileScanServiceRunning(), TAnswer::Of(false));

    struct TDatabase {
        TDatabase() { SetServiceDatabase(L"DerodoNoSuchDatabase"); }
        ~TDatabase() { SetServiceDatabase(L""); }
    } unknownDatabase;
    for (TAnswer (*question)() : {&AskFileScanServiceExists, &AskFileScanServiceRunning}) {
        FLog.Clear();
        const TAnswer answer = question();
        EXPECT_FALSE(answer.IsKnown());
        ASSERT_EQ(FLog.Errors().size(), 2u) << "the primitive's line, then the operation's";
        EXPECT_EQ(static_cast<long>(answer.Error), FLog.Errors().back().Code);
        EXPECT_NE(answer.Error, 0u);
    }
    EXPECT_FALSE(FileScanServiceExists());
}

TEST_F(FileScanServiceOperations, InstallThenExistsRunningAndStartOnTheRealService) {
    ASSERT_TRUE(FileScanServiceInstall());
    EXPECT_EQ(FService.ReadText(L"ImagePath"), L"\"" + ProgramFolder() + L"QVFSSvc.exe\"");
    EXPECT_EQ(FService.ReadText(L"DisplayName"), ProductServices[FileScanServiceIndex].DisplayName);
    EXPECT_EQ(FService.ReadText(L"Description"), ProductServices[FileScanServiceIndex].Description);
    EXPECT_TRUE(FileScanServiceExists());
    EXPECT_TRUE(FLog.Lines().empty());

    // Installed but stopped: the primitive logs nothing, the operation code 0.
    EXPECT_FALSE(FileScanServiceRunning());
    EXPECT_EQ(FLog.Errors(), (std::vector<TLoggedError>{{L"FileScanServiceRunning", 0}}));
    FLog.Clear();

    EXPECT_TRUE(FileScanServiceStart());
    ASSERT_TRUE(FService.WaitForState(SERVICE_RUNNING));
    EXPECT_TRUE(FileScanServiceRunning());
    // No port value under its key: the product's default.
    EXPECT_EQ(LoopbackGet(21323, "/status"), 404);

    // A second install reconfigures the service and rewrites its description.
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, ServiceKeyPath(FService.Name()).c_str(),
                                L"Description", REG_SZ, L"stale", 12),
              ERROR_SUCCESS);
    EXPECT_TRUE(FileScanServiceInstall());
    EXPECT_EQ(FService.ReadText(L"Description"), ProductServices[FileScanServiceIndex].Description);
    EXPECT_TRUE(FileScanServiceStart());
    EXPECT_TRUE(FLog.Lines().empty());
}

TEST_F(FileScanServiceOperations, ACommandReachesASlowServiceExactlyOnce) {
    ASSERT_TRUE(FileScanServiceInstall());
    ASSERT_TRUE(FService.SetValue(L"ServiceWebPortFileScanner", UniqueTestPort()));
    // No process of the session is this one: whether or not a driver of that
    // name runs, the service's work touches no other process.
    ASSERT_TRUE(FService.SetText(L"HookIncludeMask", L"DerodoNoSuchProcess.exe"));
    // Start pending for a while, then running a while before it listens.
    ASSERT_TRUE(FService.SetValue(L"StartDelay", 1500));
    ASSERT_TRUE(FService.SetValue(L"ListenDelay", 1500));

    EXPECT_TRUE(FileScanServiceStart());
    SERVICE_STATUS status{};
    ASSERT_TRUE(FService.Query(status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING))
        << "the start waits until the service runs";
    EXPECT_EQ(FService.ReadNumber(L"CommandsAnswered"), 0xFFFFFFFFu) << "none yet";

    // Refused while the service does not listen yet, then answered once
    // (with 500 unless a driver of the product's name runs).
    WebServiceInject();
    EXPECT_EQ(FService.ReadNumber(L"CommandsAnswered"), 1u);
    WebServiceInject();
    EXPECT_EQ(FService.ReadNumber(L"CommandsAnswered"), 2u);
}

TEST_F(FileScanServiceOperations, ACommandToAStoppedServiceIsNotTriedAgain) {
    ASSERT_TRUE(FileScanServiceInstall());
    ASSERT_TRUE(FService.SetValue(L"ServiceWebPortFileScanner", UniqueTestPort()));
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(WebServiceInject());
    // Tried again, it would take ten seconds.
    EXPECT_LT(::GetTickCount64() - start, 5000u);
}

TEST_F(FileScanServiceOperations, AServiceThatStopsWhileStartingFailsTheStart) {
    ASSERT_TRUE(FileScanServiceInstall());
    const unsigned short port = UniqueTestPort();
    ASSERT_TRUE(FService.SetValue(L"ServiceWebPortFileScanner", port));
    // Its port taken by another program, the service stops with the socket error.
    const TWinsockSession winsock;
    const TSocket held = HoldLoopbackPort(port);
    ASSERT_TRUE(held);
    EXPECT_FALSE(FileScanServiceStart());
    EXPECT_EQ(FLog.Errors(),
              (std::vector<TLoggedError>{{L"vxnServiceStart.WaitForRunning", WSAEADDRINUSE},
                                         {L"FileScanServiceStart", WSAEADDRINUSE}}));
}

// A debug-log handler that raises once, as a failing handler does: the error
// passes on to the caller of the logging operation.
enum TRaise { rsNothing, rsStandardError, rsOtherObject };
TRaise RaiseNext = rsNothing;

void RaisingHandler(const std::wstring&) {
    const TRaise raise = std::exchange(RaiseNext, rsNothing);
    if (raise == rsStandardError)
        throw std::runtime_error("handler failed");
    if (raise == rsOtherObject)
        throw 42;
}

class FileScanServiceInstallGuard : public ProductServiceTable {
protected:
    void SetUp() override {
        ProductServiceTable::SetUp();
        // A name the service manager refuses: the install fails and logs.
        ProductServices[FileScanServiceIndex].ServiceName = L"Derodo/Refused";
        DebugHandlerData()->RegisterDebugLogLineHandler(&RaisingHandler);
        FLog.Clear();
    }
    void TearDown() override {
        DebugHandlerData()->RemoveDebugLogLineHandler(&RaisingHandler);
        RaiseNext = rsNothing;
        ProductServiceTable::TearDown();
    }

    TDebugLogCapture FLog;
};

TEST_F(FileScanServiceInstallGuard, AStandardErrorIsLoggedAsFatalAndAnsweredFalse) {
    RaiseNext = rsStandardError;
    EXPECT_FALSE(FileScanServiceInstall());
    ASSERT_FALSE(FLog.Lines().empty());
    EXPECT_NE(FLog.Lines().back().find(L"Exception installing file scan service: handler failed"),
              std::wstring::npos)
        << WideToUtf8(FLog.Lines().back());
}

TEST_F(FileScanServiceInstallGuard, AnyOtherRaisedObjectPassesOn) {
    RaiseNext = rsOtherObject;
    EXPECT_THROW(FileScanServiceInstall(), int);
}

} // namespace
