// How the URL objects write their text, apart from the platform calls: the
// parameter keys' comparison, the query and the URL as rendered, and the
// percent-encoding of a value. Free of platform headers: fuzzed natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TURLParameter {
    std::string Key;
    std::string Value;
};

// Equal ignoring ASCII letter case; other bytes compare as they are.
bool SameParameterKey(std::string_view ALeft, std::string_view ARight);

// Index of the first parameter whose key is the same as AKey, or -1.
int32_t FindURLParameter(const std::vector<TURLParameter>& AParameters, std::string_view AKey);

// AStart before the first parameter, ADelimiter before each further one, the
// key, ASeparator and the value, byte for byte as they were set.
std::string RenderURLParameters(const std::vector<TURLParameter>& AParameters, char AStart,
                                char ADelimiter, char ASeparator);

// "http://" host ":" port "/" path query.
std::string RenderURL(std::string_view AHost, uint32_t APort, std::string_view APath,
                      std::string_view AQuery);

// Percent-encodes every byte outside the unreserved set: "%", controls,
// bytes from 0x80, the reserved and the unsafe characters, as "%XX".
std::string URLEncode(std::string_view AText);
