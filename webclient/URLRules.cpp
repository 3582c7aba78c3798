#include "webclient/URLRules.h"

#include "platform/ASCIICase.h"
#include "webclient/PercentEncoding.h"

namespace {

bool MustEncode(unsigned char AByte) {
    if (AByte <= 0x1F || AByte >= 0x7F)
        return true;
    constexpr std::string_view reservedAndUnsafe = "%$&+,/:;=?@ \"#<>[]\\^`{}|~";
    return reservedAndUnsafe.find(static_cast<char>(AByte)) != std::string_view::npos;
}

} // namespace

bool SameParameterKey(std::string_view ALeft, std::string_view ARight) {
    return SameIgnoringASCIICase(ALeft, ARight);
}

int32_t FindURLParameter(const std::vector<TURLParameter>& AParameters, std::string_view AKey) {
    for (size_t i = 0; i < AParameters.size(); ++i)
        if (SameParameterKey(AParameters[i].Key, AKey))
            return static_cast<int32_t>(i);
    return -1;
}

std::string RenderURLParameters(const std::vector<TURLParameter>& AParameters, char AStart,
                                char ADelimiter, char ASeparator) {
    std::string query;
    for (size_t i = 0; i < AParameters.size(); ++i) {
        query += i == 0 ? AStart : ADelimiter;
        query += AParameters[i].Key;
        query += ASeparator;
        query += AParameters[i].Value;
    }
    return query;
}

std::string RenderURL(std::string_view AHost, uint32_t APort, std::string_view APath,
                      std::string_view AQuery) {
    std::string url = "http://";
    url += AHost;
    url += ':';
    url += std::to_string(APort);
    url += '/';
    url += APath;
    url += AQuery;
    return url;
}

std::string URLEncode(std::string_view AText) {
    return PercentEncode(AText, MustEncode);
}
