#include <gtest/gtest.h>

#include <string>

#include "diagnostics/CodeMessage.h"

namespace {

TEST(CodeMessage, FormatFillsOnlyItsTwoValues) {
    struct TCase {
        std::wstring Format;
        std::wstring Expected;
    };
    const TCase cases[] = {
        {L"code %d (%s).", L"code -5 (text)."},
        {L"%s before %d", L"%s before -5"}, // a text before the code is not filled
        {L"%d %d %s %s", L"-5 %d text %s"},
        {L"100%% %d", L"100% -5"},
        {L"%x %n %", L"%x %n %"},
        {L"", L""},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(FormatCodeMessage(c.Format, -5, L"text"), c.Expected) << c.Format;
}

} // namespace
