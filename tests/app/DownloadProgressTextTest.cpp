#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/DownloadProgressText.h"
#include "platform/WinText.h"

namespace {

TEST(DownloadProgressCaption, NamesTheFileAndHowFarWithTheTitleAfter) {
    const std::wstring base = L"https://h:1/Vexlo2/files-2.7/";
    struct {
        std::wstring URL;
        int64_t Received, Total;
        const wchar_t* Expected;
    } const cases[] = {
        {base + L"QVHook64.dll", 0, 292864, L"Downloading QVHook64.dll: 0% (0 of 286 KB) - T"},
        {base + L"QVHook64.dll", 122880, 292864,
         L"Downloading QVHook64.dll: 41% (120 of 286 KB) - T"},
        {base + L"QVHook64.dll", 292864, 292864,
         L"Downloading QVHook64.dll: 100% (286 of 286 KB) - T"},
        {base + L"QVHookDrv64.sys?x=1", 2048, 0, L"Downloading QVHookDrv64.sys: 2 KB - T"},
        {L"plain", 5000, -1, L"Downloading plain: 4 KB - T"},
        // More than announced never shows more than the whole.
        {base + L"a.dll", 4096, 1024, L"Downloading a.dll: 100% (4 of 1 KB) - T"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.Expected));
        EXPECT_EQ(DownloadProgressCaption(c.URL, c.Received, c.Total, L"T"), c.Expected);
    }
}

TEST(DownloadProgressPermille, ThousandthsOfTheAnnouncedLength) {
    EXPECT_EQ(DownloadProgressPermille(0, 0), 0);
    EXPECT_EQ(DownloadProgressPermille(10, -1), 0);
    EXPECT_EQ(DownloadProgressPermille(1, 3), 333);
    EXPECT_EQ(DownloadProgressPermille(3, 3), 1000);
    EXPECT_EQ(DownloadProgressPermille(-5, 3), 0);
    // Lengths beyond what a product of the length and 1000 could hold.
    EXPECT_EQ(DownloadProgressPermille(INT64_MAX / 2, INT64_MAX), 499);
}

} // namespace
