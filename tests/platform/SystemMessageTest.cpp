// The trimming rule of the system's error texts, on its own and on a text
// from the real message table.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/SystemMessage.h"
#include "platform/WinText.h"

namespace {

TEST(TrimSystemMessage, TrailingControlsSpacesAndFullStopsGo) {
    struct TCase {
        std::wstring In;
        std::wstring Out;
    };
    const TCase cases[] = {
        {L"", L""},
        {L"Access denied.\r\n", L"Access denied"},
        {L"Done. \t.\r\n. ", L"Done"},
        {L"...", L""},
        {L" \r\n\t", L""},
        {std::wstring(L"x\0\x01\x1F ", 5), L"x"},
        {L"v1.2 is out", L"v1.2 is out"},           // full stops inside stay
        {L"  leading stays", L"  leading stays"},   // only the end is trimmed
        {L"ends with !\r\n", L"ends with !"},       // other punctuation stays
        {L"caf\u00e9\u00a0", L"caf\u00e9\u00a0"},   // a no-break space is above 32
        {L"three dots\u2026", L"three dots\u2026"}, // so is the ellipsis
    };
    for (const TCase& c : cases)
        EXPECT_EQ(TrimSystemMessage(c.In), c.Out) << WideToUtf8(c.In);
}

TEST(SystemMessage, TheTableTextTrimmed) {
    const std::wstring text = SystemMessage(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), L'.');
    EXPECT_GT(text.back(), L' ');
    EXPECT_EQ(SystemMessage(0xDEADBEEF), L"");
}

TEST(SystemMessage, WinINetsCodesHaveWinINetsTexts) {
    // ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_NAME_NOT_RESOLVED,
    // ERROR_INTERNET_CANNOT_CONNECT: texts that Windows' system table lacks.
    for (unsigned long code : {12002UL, 12007UL, 12029UL}) {
        ::SetLastError(ERROR_MORE_DATA);
        const std::wstring text = SystemMessage(code);
        const DWORD error = ::GetLastError();
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find(L"nknown"), std::wstring::npos) << code << ": " << WideToUtf8(text);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_MORE_DATA)) << "left as it was";
    }
    // A code of the range that neither table knows.
    EXPECT_EQ(SystemMessage(InternetErrorLast), L"");
}

} // namespace
