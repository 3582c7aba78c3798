#include "services/ProductServices.h"

#include <exception>

#include "diagnostics/DebugLogger.h"
#include "diagnostics/FailedCall.h"
#include "diagnostics/Translate.h"

std::array<TServiceInfo9, ProductServiceCount> ProductServices;

namespace {

constexpr const wchar_t* ProductServicesModule = L"vxnProductServices";

struct TBuiltInService {
    const wchar_t* FileName;
    const wchar_t* ServiceName;
    const wchar_t* DisplayName; // English, translated at start-up
    const wchar_t* Description; // English, translated at start-up
    DWORD WebPort;
};

constexpr const wchar_t* ScannerDisplayName = L"Vexlo-Q&V 2 Scanner Service";
constexpr const wchar_t* ScannerDescription =
    L"System service responsible for scanning single files during on-access or custom demand "
    L"scans, as well as internet connections.";

constexpr std::array<TBuiltInService, ProductServiceCount> BuiltInServices = {{
    {L"QVFSSvc.exe", L"QVScannerService", ScannerDisplayName, ScannerDescription, 21322},
    {L"QVFSSvc.exe", L"QVScannerService", ScannerDisplayName, ScannerDescription, 21323},
    {L"QVMonSvc.exe", L"QVMonitorService", L"Vexlo-Q&V 2 Monitoring Service",
     L"Helps Vexlo monitoring the system.", 21325},
    {L"QVSODSvc.exe", L"QVScanOnDemandService", L"Vexlo-Q&V 2 Scan On Demand Service",
     L"System service responsible for full system scans.", 21326},
    {L"QVUpdSvc.exe", L"QVUpdateService", L"Vexlo-Q&V 2 Updating Service",
     L"System service responsible for downloading and installing updates in the background.",
     21321},
    {L"QVHookSvc.exe", L"QVHookService", L"Vexlo-Q&V 2 Live Protection Background Service",
     L"System wide process monitoring to protect your computer and detect malware in real time.",
     0},
    {L"QVWSCSvc.exe", L"QVWSCService", L"Vexlo-Q&V 2 Security Center Service",
     L"Integration into the systems Windows Security Center.", 0},
}};

// One file-scan operation: the primitive on entry 1 with a code of its own,
// and the operation's line when the answer is false. AErrorCode: the code
// the primitive left.
bool OnFileScanService(bool (*APrimitive)(const TServiceInfo9&, DWORD&), const wchar_t* AText,
                       DWORD& AErrorCode) {
    AErrorCode = 0;
    const bool result = APrimitive(ProductServices[FileScanServiceIndex], AErrorCode);
    if (!result)
        LogFailedCall(AText, AErrorCode);
    return result;
}

bool OnFileScanService(bool (*APrimitive)(const TServiceInfo9&, DWORD&), const wchar_t* AText) {
    DWORD errorCode = 0;
    return OnFileScanService(APrimitive, AText, errorCode);
}

TAnswer AskFileScanService(bool (*APrimitive)(const TServiceInfo9&, DWORD&), const wchar_t* AText) {
    DWORD errorCode = 0;
    const bool yes = OnFileScanService(APrimitive, AText, errorCode);
    return ServiceAnswer(yes, errorCode);
}

} // namespace

void ProductServicesStartUp() {
    TDebugUnitTrace trace(ProductServicesModule, dlsUnitInitialization);
    for (size_t i = 0; i < ProductServiceCount; ++i) {
        ProductServices[i].FileName = BuiltInServices[i].FileName;
        ProductServices[i].ServiceName = BuiltInServices[i].ServiceName;
        ProductServices[i].WebPort = BuiltInServices[i].WebPort;
    }
    for (size_t i = 0; i < ProductServiceCount; ++i) {
        ProductServices[i].DisplayName = Translate(BuiltInServices[i].DisplayName);
        ProductServices[i].Description = Translate(BuiltInServices[i].Description);
    }
}

void ProductServicesShutDown() {
    TDebugUnitTrace trace(ProductServicesModule, dlsUnitFinalization);
    ProductServices = {};
}

bool FileScanServiceExists() {
    return AskFileScanServiceExists().IsYes();
}

bool FileScanServiceRunning() {
    return AskFileScanServiceRunning().IsYes();
}

TAnswer AskFileScanServiceExists() {
    return AskFileScanService(&vxnServiceExists, L"FileScanServiceExists");
}

TAnswer AskFileScanServiceRunning() {
    return AskFileScanService(&vxnServiceRunning, L"FileScanServiceRunning");
}

bool FileScanServiceStart() {
    return OnFileScanService(&vxnServiceStart, L"FileScanServiceStart");
}

bool FileScanServiceInstall() {
    try {
        return OnFileScanService(&vxnServiceInstall, L"FileScanServiceInstall");
    } catch (const std::exception& error) {
        if (TDebugLogger* logger = DebugLogger())
            logger->LogException(error, L"Exception installing file scan service", dlvFatal);
        return false;
    }
}
