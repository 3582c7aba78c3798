// URL objects for the small web interfaces the suite's services offer on the
// loopback address: host, port, path and an ordered list of query parameters,
// rendered as one URL and fetched with a plain GET.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "webclient/URLRules.h"

class TURL {
public:
    TURL();
    TURL(const TURL&) = delete;
    TURL& operator=(const TURL&) = delete;
    virtual ~TURL();

    char ParameterStartChar() const { return FParameterStartChar; }
    void SetParameterStartChar(char AValue) { FParameterStartChar = AValue; }
    char ParameterDelimiterChar() const { return FParameterDelimiterChar; }
    void SetParameterDelimiterChar(char AValue) { FParameterDelimiterChar = AValue; }
    char ParameterValueSeparatorChar() const { return FParameterValueSeparatorChar; }
    void SetParameterValueSeparatorChar(char AValue) { FParameterValueSeparatorChar = AValue; }
    // A new object starts with its class's default port.
    uint32_t Port() const;
    void SetPort(uint32_t AValue) { FPort = AValue; }
    const std::string& Host() const { return FHost; }
    void SetHost(std::string AValue) { FHost = std::move(AValue); }
    const std::string& Path() const { return FPath; }
    void SetPath(std::string AValue) { FPath = std::move(AValue); }

    // How long each wait for response data may take; 15000 ms unless a test
    // needs its own bound.
    uint32_t ReceiveTimeout() const { return FReceiveTimeout; }
    void SetReceiveTimeout(uint32_t AMilliseconds) { FReceiveTimeout = AMilliseconds; }

    // Index of the first parameter whose key equals AKey ignoring ASCII letter
    // case, or -1.
    int32_t FindParameter(std::string_view AKey) const;
    // The same; on a match AValue receives the value, otherwise it is left as is.
    int32_t FindParameter(std::string_view AKey, std::string& AValue) const;
    // Sets AValue for AKey (appending the key when it is new) and returns its
    // index. A key matched by case only keeps the form first stored.
    int32_t SetParameter(const std::string& AKey, const std::string& AValue);

    // The query text, byte for byte as the parameters were set (nothing escaped).
    std::string ConstructParameters() const;
    // "http://" host ":" port "/" path query.
    std::string ConstructURL() const;

    // A plain HTTP GET of ConstructURL without proxy, on a connection of its
    // own that is closed afterwards. True when a whole answer came back
    // (HttpAnswer.h: a numeric status, the body complete by its framing).
    // Whatever the result, AStatusCode gets the response's status (0 without
    // one) and AReturnInfo the body as far as it was read.
    bool RetrieveSynapse(std::string& AReturnInfo, uint32_t& AStatusCode) const;
    // Whether the last RetrieveSynapse failed because every address refused
    // the connection: nothing listened, nothing was sent.
    bool ConnectRefused() const { return FConnectRefused; }
    // The second retrieval, through the download client on the system's
    // internet settings (their proxy applies): AReturnInfo gets the body,
    // AStatusCode the status. Defined in a file of its own, which only its
    // callers link, and with it the download client.
    bool Retrieve(std::string& AReturnInfo, uint32_t& AStatusCode) const;

protected:
    // The port a new object of the class starts with.
    virtual uint32_t GetDefaultPort() const;

private:
    std::vector<TURLParameter> FParameters;
    std::string FPath;
    char FParameterDelimiterChar = '&';
    char FParameterValueSeparatorChar = '=';
    char FParameterStartChar = '?';
    // A constructor cannot reach a descendant's override, so the default port
    // is taken from the object's own class on first use and kept from then on.
    mutable std::optional<uint32_t> FPort;
    std::string FHost;
    uint32_t FReceiveTimeout = 15000;
    mutable bool FConnectRefused = false;
};
