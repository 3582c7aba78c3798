#include "download/ProxyParameters.h"

#include "download/ConfigurationStore.h"
#include "platform/WinText.h"

std::string TProxyParameters::GetCERNSyntax() const {
    return "http=http://" + ProxyServer + ":" + std::to_string(ProxyPort);
}

void TProxyParameters::LoadConfiguration(const std::wstring& ASubPath) {
    const TConfigurationStore& store = ConfigurationStore();
    FUseIEImported = store.ReadBool(ASubPath, L"UseIEImported", true);
    FUseProxy = store.ReadBool(ASubPath, L"UseProxy", false);
    FUseUserProxy = store.ReadBool(ASubPath, L"UseUserProxy", false);
    FUseVexloProxy = store.ReadBool(ASubPath, L"UseVexloProxy", true);
    ProxyServer = WideToAnsi(store.ReadString(ASubPath, L"ProxyServer", L"localhost"));
    ProxyPort = static_cast<int32_t>(store.ReadInteger(ASubPath, L"ProxyPort", 8080));
    BasicAuthentication = store.ReadBool(ASubPath, L"UseCredentials", false);
    ProxyUsername = WideToAnsi(store.ReadString(ASubPath, L"Username", L""));
    ProxyPassword = WideToAnsi(store.ReadString(ASubPath, L"Password", L""));
}

void TProxyParameters::SaveConfiguration(const std::wstring& ASubPath) const {
    TConfigurationStore& store = ConfigurationStore();
    store.WriteBool(ASubPath, L"UseIEImported", FUseIEImported);
    store.WriteBool(ASubPath, L"UseProxy", FUseProxy);
    store.WriteBool(ASubPath, L"UseUserProxy", FUseUserProxy);
    store.WriteBool(ASubPath, L"UseVexloProxy", FUseVexloProxy);
    store.WriteString(ASubPath, L"ProxyServer", AnsiToWide(ProxyServer));
    store.WriteInteger(ASubPath, L"ProxyPort", static_cast<uint32_t>(ProxyPort));
    store.WriteBool(ASubPath, L"UseCredentials", BasicAuthentication);
    store.WriteString(ASubPath, L"Username", AnsiToWide(ProxyUsername));
    store.WriteString(ASubPath, L"Password", AnsiToWide(ProxyPassword));
}
