// The product's service table, and the file-scan service operations on the
// real "QVScannerService" run by QVFSSvc.exe beside the test. These tests hold
// the lock of that service's name: no other test may use it meanwhile.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "DebugLogCapture.h"
#include "LoopbackProbe.h"
#include "ProductServices.h"
#include "ProgramPath.h"
#include "ServiceTestSupport.h"

namespace {

constexpr long NoSuchService = ERROR_SERVICE_DOES_NOT_EXIST;

class ProductServiceTable : public ::testing::Test {
protected:
    void SetUp() override { ProductServicesStartUp(); }
    void TearDown() override { ProductServicesShutDown(); }
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

} // namespace
