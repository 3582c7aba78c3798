// The loopback client's answer rules on any bytes: a closed connection leaves
// no answer incomplete, a whole answer has a status from 100 to 999 and a body
// no longer than what arrived, and an incomplete one asks for more bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include "tests/fuzz/FuzzRequire.h"
#include "webclient/HttpAnswer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const std::string_view received(reinterpret_cast<const char*>(AData), ASize);
    for (const bool closed : {false, true}) {
        const THttpAnswer answer = ReadHttpAnswer(received, closed);
        if (closed)
            Require(answer.State != hasIncomplete);
        if (answer.State == hasComplete) {
            Require(answer.StatusCode >= 100 && answer.StatusCode <= 999);
            Require(answer.Body.size() <= received.size());
        }
        if (answer.State == hasIncomplete)
            Require(answer.Needed > received.size());
    }
    return 0;
}
