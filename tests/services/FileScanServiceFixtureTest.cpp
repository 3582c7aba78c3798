// QVFSSvc.exe, our file-scan service, run by the real service control manager
// under a name and port of this test's own.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/ProgramPath.h"
#include "platform/SocketHandle.h"
#include "tests/services/LoopbackProbe.h"
#include "tests/services/ServiceTestSupport.h"

namespace {

class FileScanServiceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FService.Create(SiblingCommandLine(L"QVFSSvc.exe")));
        ASSERT_TRUE(FService.SetValue(L"ServiceWebPortFileScanner", FPort));
    }

    void StartRunning() {
        ASSERT_TRUE(FService.Start()) << ::GetLastError();
        ASSERT_TRUE(FService.WaitForState(SERVICE_RUNNING));
    }

    TTestService FService{UniqueServiceName(L"DerodoFileScan")};
    const unsigned short FPort = UniqueTestPort();
};

TEST_F(FileScanServiceFixture, ListensOnLoopbackOnlyAndAnswersOtherRequestsWith404) {
    StartRunning();
    EXPECT_EQ(ListeningAddresses(FPort), std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(LoopbackGet(FPort, "/"), 404);
    EXPECT_EQ(LoopbackGet(FPort, "/asscan?filename=a"), 404);
    EXPECT_EQ(LoopbackStatus(FPort, "POST /inject HTTP/1.1\r\nContent-Length: 0\r\n\r\n"), 404);
    // A client that gives up half-way does not keep the service from the next one.
    EXPECT_EQ(LoopbackStatus(FPort, "GET /inj"), 0);
    EXPECT_EQ(LoopbackGet(FPort, "/nothing"), 404);
}

TEST_F(FileScanServiceFixture, StopsCleanlyAndFreesItsPort) {
    StartRunning();
    ASSERT_TRUE(FService.Stop());
    SERVICE_STATUS status{};
    ASSERT_TRUE(FService.Query(status));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    EXPECT_EQ(LoopbackGet(FPort, "/"), -1);
    EXPECT_TRUE(ListeningAddresses(FPort).empty());
}

void ExpectStopsWithPortTaken(TTestService& AService) {
    AService.Start();
    ASSERT_TRUE(AService.WaitForState(SERVICE_STOPPED));
    SERVICE_STATUS status{};
    ASSERT_TRUE(AService.Query(status));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(WSAEADDRINUSE));
}

TEST_F(FileScanServiceFixture, APortTakenByAnotherProgramStopsItWithTheSocketError) {
    const TWinsockSession winsock;
    const TSocket taken = HoldLoopbackPort(FPort);
    ASSERT_TRUE(taken);
    ExpectStopsWithPortTaken(FService);
}

// A stored port no service can listen on means the product's default, 21323.
// That port is shared by every test run on this machine, so the test holds it
// itself (or finds it held by another run): the service must then stop with
// the socket error of a port taken, which it could not get on any other port.
TEST_F(FileScanServiceFixture, AStoredPortOfZeroOrAbove65535MeansTheDefault) {
    const TWinsockSession winsock;
    const TSocket held = HoldLoopbackPort(21323);
    for (const DWORD stored : {0ul, 65536ul}) {
        SCOPED_TRACE(stored);
        ASSERT_TRUE(FService.SetValue(L"ServiceWebPortFileScanner", stored));
        ExpectStopsWithPortTaken(FService);
    }
}

TEST(FileScanServiceFile, CarriesAVersionResourceLikeAProductFile) {
    const std::wstring file = ProgramFolder() + L"QVFSSvc.exe";
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(file.c_str(), 0, size, block.data()));
    auto text = [&](const wchar_t* AName) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + AName;
        if (!::VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value),
                              &length))
            return std::wstring();
        return std::wstring(value);
    };
    EXPECT_EQ(text(L"CompanyName"), L"Quorvane-Tessit Ltd.");
    EXPECT_EQ(text(L"OriginalFilename"), L"QVFSSvc.exe");
    EXPECT_FALSE(text(L"FileVersion").empty());
    EXPECT_FALSE(text(L"ProductVersion").empty());
}

} // namespace
