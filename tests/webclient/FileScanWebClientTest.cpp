#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "platform/Handles.h"
#include "tests/automation/LoopbackServer.h"
#include "webclient/FileScanPort.h"
#include "webclient/FileScanWebClient.h"

namespace {

const wchar_t* const ServiceKey = L"SYSTEM\\CurrentControlSet\\services\\QVScannerService";

TEST(URLEncode, ByteSet) {
    struct TCase {
        std::string In;
        std::string Out;
    };
    const TCase cases[] = {
        {"", ""},
        {"C:\\a b.txt", "C%3A%5Ca%20b.txt"},
        {"%", "%25"},
        {"%41", "%2541"}, // an existing escape is encoded again, once
        {std::string("\x00\x01\x1F\x7F", 4), "%00%01%1F%7F"},
        {"\x80\xC3\xA4\xFF", "%80%C3%A4%FF"},
        {"$&+,/:;=?@", "%24%26%2B%2C%2F%3A%3B%3D%3F%40"},
        {" \"#<>[]\\^`{}|~", "%20%22%23%3C%3E%5B%5D%5C%5E%60%7B%7D%7C%7E"},
        {"azAZ09-._!'()*", "azAZ09-._!'()*"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(URLEncode(c.In), c.Out) << c.In;
}

TEST(FileScanURL, FilenameAndProcessParameters) {
    TFileScanURL url;
    url.SetPath("scan");
    url.SetFilename(L"C:\\x&y=z\u00e4.exe");
    url.AddProcessID(42);
    std::string value;
    EXPECT_EQ(url.FindParameter("filename", value), 0);
    EXPECT_EQ(value, "C%3A%5Cx%26y%3Dz%C3%A4.exe");
    EXPECT_EQ(url.FindParameter("pid", value), 1);
    EXPECT_EQ(value, "42");

    // A lone surrogate cannot be converted: the name becomes empty, not a
    // replacement character.
    url.SetFilename(L"a" + std::wstring(1, wchar_t(0xD800)) + L"b");
    EXPECT_EQ(url.FindParameter("filename", value), 0);
    EXPECT_EQ(value, "");

    url.AddCurrentProcessID();
    url.FindParameter("pid", value);
    EXPECT_EQ(value, std::to_string(::GetCurrentProcessId()));
}

TEST(FileScanPortRule, TheToolTakesTheStoredValueAndTheServiceListensOnAPort) {
    struct TCase {
        std::optional<uint32_t> Stored;
        int32_t Port;
        uint16_t ListenPort;
    };
    const TCase cases[] = {
        {std::nullopt, 21323, 21323},
        {0, 0, 21323},
        {1, 1, 1},
        {80, 80, 80},
        {8080, 8080, 8080},
        {65535, 65535, 65535},
        {65536, 65536, 21323},
        {65536 + 8080, 65536 + 8080, 21323},
        {0x7FFFFFFF, 0x7FFFFFFF, 21323},
        {0xFFFFFFFF, -1, 21323},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(FileScanPortFromStored(c.Stored), c.Port) << c.Stored.value_or(12345678);
        EXPECT_EQ(FileScanListenPortFromStored(c.Stored), c.ListenPort)
            << c.Stored.value_or(12345678);
    }
}

// The port value lives in the file-scan service's key; the test writes it and
// puts back what was there.
class FileScanPort : public ::testing::Test {
protected:
    void SetUp() override {
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, ServiceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          FKey.addressof(), nullptr);
        ASSERT_TRUE(FKey);
        ::RegDeleteValueW(FKey.get(), L"ServiceWebPortFileScanner");
    }
    void TearDown() override { ::RegDeleteValueW(FKey.get(), L"ServiceWebPortFileScanner"); }

    void SetDword(DWORD AValue) {
        ::RegSetValueExW(FKey.get(), L"ServiceWebPortFileScanner", 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&AValue), sizeof(AValue));
    }

    TRegKey FKey;
};

TEST_F(FileScanPort, FromTheRegistryOrTheDefault) {
    EXPECT_EQ(FileScanServicePort(), 21323);

    SetDword(8080);
    EXPECT_EQ(FileScanServicePort(), 8080);
    TFileScanURL url;
    url.SetPath("inject");
    EXPECT_EQ(url.ConstructURL(), "http://127.0.0.1:8080/inject");

    // Values that name no port are returned as stored.
    SetDword(0);
    EXPECT_EQ(FileScanServicePort(), 0);
    SetDword(65536);
    EXPECT_EQ(FileScanServicePort(), 65536);
    EXPECT_EQ(TFileScanURL().Port(), 65536u);
    SetDword(0xFFFFFFFF);
    EXPECT_EQ(FileScanServicePort(), -1);

    const wchar_t text[] = L"8080";
    ::RegSetValueExW(FKey.get(), L"ServiceWebPortFileScanner", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(text), sizeof(text));
    EXPECT_EQ(FileScanServicePort(), 21323);
}

TEST_F(FileScanPort, CommandsSucceedOnlyWithStatus200) {
    // The loopback server answers the commands' own paths with the status it
    // is told (404 when told none).
    const std::pair<const char*, bool (*)()> commands[] = {
        {"lpactivate", &WebServiceLPActivate},
        {"inject", &WebServiceInject},
        {"uninject", &WebServiceUninject},
    };
    for (const int status : {200, 204, 302, 0}) {
        TLoopbackServerOptions options;
        options.OtherStatus = status;
        TLoopbackServer server(options);
        SetDword(server.Port());
        for (const auto& [path, command] : commands)
            EXPECT_EQ(command(), status == 200) << path << " answered " << status;
    }

    SetDword(1); // nothing listens
    EXPECT_FALSE(WebServiceInject());
}

// A stored value naming no port is refused by the client: no command goes to
// the scheme's port 80 or to the stored value cut to 16 bits, even with a
// server there that would accept it.
TEST_F(FileScanPort, CommandsToAStoredValueThatNamesNoPortFail) {
    TLoopbackServerOptions options;
    options.OtherStatus = 200;
    TLoopbackServer server(options);
    for (const DWORD stored : {0ul, 65536ul + server.Port(), 0xFFFFFFFFul}) {
        SetDword(stored);
        EXPECT_FALSE(WebServiceLPActivate()) << stored;
        EXPECT_FALSE(WebServiceInject()) << stored;
        EXPECT_FALSE(WebServiceUninject()) << stored;
    }
    SetDword(server.Port());
    EXPECT_TRUE(WebServiceInject());
}

} // namespace
