// Proxy parameters and their place in the configuration store, against the
// real registry of the test prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "download/ConfigurationStore.h"
#include "download/ProxyParameters.h"
#include "platform/Handles.h"

namespace {

TEST(ProxyParameters, TheTwoNamesOfOneSettingAndTheCERNText) {
    TProxyParameters proxy;
    EXPECT_EQ(proxy.GetCERNSyntax(), "http=http://localhost:8080");
    EXPECT_FALSE(proxy.UseIEImported() || proxy.UseProxy() || proxy.UseUserProxy() ||
                 proxy.UseVexloProxy() || proxy.BasicAuthentication);
    proxy.ProxyServer = "gateway";
    proxy.ProxyPort = 3128;
    EXPECT_EQ(proxy.GetCERNSyntax(), "http=http://gateway:3128");
    // Inserted as it stands.
    proxy.ProxyServer = " gate way ";
    EXPECT_EQ(proxy.GetCERNSyntax(), "http=http:// gate way :3128");

    proxy.SetUseProxy(true);
    EXPECT_TRUE(proxy.UseUserProxy());
    proxy.SetUseUserProxy(false);
    EXPECT_FALSE(proxy.UseProxy());
}

// A sub path of the product's key of this test's own, removed from both hives
// before and after.
class ProxyStore : public ::testing::Test {
protected:
    void SetUp() override { Remove(); }
    void TearDown() override { Remove(); }

    void Remove() const {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            ::RegDeleteTreeW(root, Key().c_str());
    }
    std::wstring Key() const { return TConfigurationStore::KeyPath(FSubPath).substr(1); }

    void Store(HKEY ARoot, const wchar_t* AName, DWORD AValue) const {
        ASSERT_EQ(
            ::RegSetKeyValueW(ARoot, Key().c_str(), AName, REG_DWORD, &AValue, sizeof(AValue)),
            ERROR_SUCCESS);
    }
    void Store(HKEY ARoot, const wchar_t* AName, const std::wstring& AText) const {
        ASSERT_EQ(::RegSetKeyValueW(ARoot, Key().c_str(), AName, REG_SZ, AText.c_str(),
                                    static_cast<DWORD>((AText.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    // The stored type and bytes of a value, or type REG_NONE when absent.
    std::pair<DWORD, std::wstring> Stored(HKEY ARoot, const wchar_t* AName) const {
        DWORD type = REG_NONE;
        wchar_t data[256] = {};
        DWORD size = sizeof(data);
        if (::RegGetValueW(ARoot, Key().c_str(), AName, RRF_RT_ANY, &type, data, &size) !=
            ERROR_SUCCESS)
            return {REG_NONE, L""};
        if (type == REG_DWORD) {
            DWORD value = 0;
            std::memcpy(&value, data, sizeof(value));
            return {type, std::to_wstring(value)};
        }
        return {type, data};
    }

    std::wstring FSubPath = L"DerodoTests\\Proxy" + std::to_wstring(::GetCurrentProcessId());
};

TEST_F(ProxyStore, AnEmptyStoreLoadsTheDefaults) {
    TProxyParameters proxy;
    proxy.ProxyServer = "stale";
    proxy.ProxyUsername = "stale";
    proxy.BasicAuthentication = true;
    proxy.LoadConfiguration(FSubPath);
    EXPECT_TRUE(proxy.UseIEImported());
    EXPECT_TRUE(proxy.UseVexloProxy());
    EXPECT_FALSE(proxy.UseProxy());
    EXPECT_FALSE(proxy.BasicAuthentication);
    EXPECT_EQ(proxy.GetCERNSyntax(), "http=http://localhost:8080");
    EXPECT_EQ(proxy.ProxyUsername, "");
    EXPECT_EQ(proxy.ProxyPassword, "");
}

TEST_F(ProxyStore, TheMachineWinsAndOtherTypesCountAsAbsent) {
    Store(HKEY_CURRENT_USER, L"ProxyServer", L"user-proxy");
    Store(HKEY_LOCAL_MACHINE, L"ProxyServer", L"machine-proxy");
    Store(HKEY_CURRENT_USER, L"ProxyPort", 3128);                   // the machine's is text:
    Store(HKEY_LOCAL_MACHINE, L"ProxyPort", std::wstring(L"9090")); // the user's counts
    Store(HKEY_CURRENT_USER, L"Username", L"someone");              // only the user has it
    Store(HKEY_LOCAL_MACHINE, L"UseIEImported", 0);
    Store(HKEY_LOCAL_MACHINE, L"UseCredentials", 7); // nonzero is true
    Store(HKEY_LOCAL_MACHINE, L"Password", 1234);    // a number is no text
    TProxyParameters proxy;
    proxy.LoadConfiguration(FSubPath);
    EXPECT_EQ(proxy.ProxyServer, "machine-proxy");
    EXPECT_EQ(proxy.ProxyPort, 3128);
    EXPECT_EQ(proxy.ProxyUsername, "someone");
    EXPECT_FALSE(proxy.UseIEImported());
    EXPECT_TRUE(proxy.BasicAuthentication);
    EXPECT_EQ(proxy.ProxyPassword, "");

    // A port stored as text and nothing else is no port.
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, Key().c_str(), L"ProxyPort");
    proxy.LoadConfiguration(FSubPath);
    EXPECT_EQ(proxy.ProxyPort, 8080);
}

TEST_F(ProxyStore, TheTwoFlagsLoadApartAndAreSavedBackAsTheyWere) {
    Store(HKEY_LOCAL_MACHINE, L"UseProxy", 1);
    Store(HKEY_LOCAL_MACHINE, L"UseUserProxy", 0);
    TProxyParameters proxy;
    proxy.LoadConfiguration(FSubPath);
    EXPECT_FALSE(proxy.UseProxy());
    EXPECT_FALSE(proxy.UseUserProxy());

    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Key().c_str());
    proxy.SaveConfiguration(FSubPath);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, L"UseProxy"),
              std::make_pair(DWORD(REG_DWORD), std::wstring(L"1")));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, L"UseUserProxy"),
              std::make_pair(DWORD(REG_DWORD), std::wstring(L"0")));
}

TEST_F(ProxyStore, EitherNameOfTheSettingStoresBothFlags) {
    using TSetter = void (TProxyParameters::*)(bool);
    for (const TSetter setter :
         {&TProxyParameters::SetUseProxy, &TProxyParameters::SetUseUserProxy})
        for (const bool value : {true, false}) {
            TProxyParameters proxy;
            (proxy.*setter)(!value);
            (proxy.*setter)(value);
            proxy.SaveConfiguration(FSubPath);
            const auto expected =
                std::make_pair(DWORD(REG_DWORD), std::wstring(value ? L"1" : L"0"));
            EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, L"UseProxy"), expected) << value;
            EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, L"UseUserProxy"), expected) << value;
        }
}

TEST_F(ProxyStore, SavingWritesAllNineValuesForTheMachine) {
    TProxyParameters proxy;
    proxy.SetUseIEImported(true);
    proxy.SetUseUserProxy(true);
    proxy.ProxyServer = "gateway";
    proxy.ProxyPort = 3128;
    proxy.BasicAuthentication = true;
    proxy.ProxyUsername = "user";
    proxy.ProxyPassword = "plain";
    proxy.SaveConfiguration(FSubPath);

    using TValue = std::pair<DWORD, std::wstring>;
    const std::pair<const wchar_t*, TValue> expected[] = {
        {L"UseIEImported", {REG_DWORD, L"1"}},  {L"UseProxy", {REG_DWORD, L"1"}},
        {L"UseUserProxy", {REG_DWORD, L"1"}},   {L"UseVexloProxy", {REG_DWORD, L"0"}},
        {L"ProxyServer", {REG_SZ, L"gateway"}}, {L"ProxyPort", {REG_DWORD, L"3128"}},
        {L"UseCredentials", {REG_DWORD, L"1"}}, {L"Username", {REG_SZ, L"user"}},
        {L"Password", {REG_SZ, L"plain"}},
    };
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, name), value) << name;
        EXPECT_EQ(Stored(HKEY_CURRENT_USER, name).first, DWORD(REG_NONE)) << name;
    }

    TProxyParameters loaded;
    loaded.LoadConfiguration(FSubPath);
    EXPECT_TRUE(loaded.UseIEImported() && loaded.UseProxy() && !loaded.UseVexloProxy());
    EXPECT_EQ(loaded.GetCERNSyntax(), "http=http://gateway:3128");
    EXPECT_EQ(loaded.ProxyPassword, "plain");
}

} // namespace
