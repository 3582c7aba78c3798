// How the download client reaches the internet: the system's own settings,
// directly, or through a proxy the user named; kept in the product's
// configuration store.
#pragma once

#include <cstdint>
#include <string>

class TProxyParameters {
public:
    TProxyParameters() = default;

    bool UseIEImported() const { return FUseIEImported; }
    void SetUseIEImported(bool AValue) { FUseIEImported = AValue; }
    // UseProxy and UseUserProxy are one setting under two names: writing
    // either sets both flags, reading either answers the user-proxy flag.
    bool UseProxy() const { return FUseUserProxy; }
    void SetUseProxy(bool AValue) { FUseProxy = FUseUserProxy = AValue; }
    bool UseUserProxy() const { return FUseUserProxy; }
    void SetUseUserProxy(bool AValue) { FUseUserProxy = FUseProxy = AValue; }
    bool UseVexloProxy() const { return FUseVexloProxy; }
    void SetUseVexloProxy(bool AValue) { FUseVexloProxy = AValue; }

    // The proxy for the http scheme in the platform's CERN proxy-list syntax:
    // "http=http://" server ":" port. The server is used as it stands.
    std::string GetCERNSyntax() const;

    // Reads the nine stored values under ASubPath of the configuration store,
    // each field directly, so the two proxy flags load independently; a
    // value absent or of another type takes its default.
    void LoadConfiguration(const std::wstring& ASubPath);
    // Writes the nine values there, under HKEY_LOCAL_MACHINE.
    void SaveConfiguration(const std::wstring& ASubPath) const;

    std::string ProxyServer = "localhost";
    int32_t ProxyPort = 8080;
    std::string ProxyUsername;
    // Stored as plain text.
    std::string ProxyPassword;
    bool BasicAuthentication = false;

private:
    bool FUseIEImported = false;
    // Differs from FUseUserProxy only when the store held different values;
    // it is then written back as it was read.
    bool FUseProxy = false;
    bool FUseUserProxy = false;
    bool FUseVexloProxy = false;
};
