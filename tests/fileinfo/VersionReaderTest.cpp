// The version reader against real version resources built for the purpose.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "fileinfo/VersionReader.h"
#include "tests/fileinfo/VersionBlock.h"
#include "tests/support/TestFiles.h"

namespace {

struct TVersionCase {
    const char* Name;
    const wchar_t* File; // below the bin folder
    const wchar_t* FileVersion;
    const wchar_t* ProductVersion;
};

const std::vector<TVersionCase> VersionCases = {
    {"secondTranslationFillsTheGaps", L"version_two_translations.exe", L"3.1.0.7 (second)",
     L"3.1 (second)"},
    {"firstNonEmptyValueWins", L"version_first_translation_wins.exe", L"4.0.0.1 (first)",
     L"4.0 (first)"},
    {"onlyEmptyValues", L"version_only_empty_values.exe", L"", L""},
    {"noTranslationList", L"version_no_translation_list.exe", L"", L""},
    {"noVersionResource", L"version_no_resource.exe", L"", L""},
    {"missingFile", L"version_missing.exe", L"", L""},
    {"productFile", L"QVHookInst32.exe", L"2.7.3.118", L"2.7.0.0"},
};

class VersionReader : public ::testing::TestWithParam<TVersionCase> {};

TEST_P(VersionReader, ReadsTheFirstNonEmptyValueOfTheTranslations) {
    const std::wstring path = FixturePath(GetParam().File);
    EXPECT_EQ(ReadFileVersion(path), GetParam().FileVersion);
    EXPECT_EQ(ReadProductVersion(path), GetParam().ProductVersion);

    std::wstring text = L"stale";
    EXPECT_EQ(TryReadFileVersion(path, text), *GetParam().FileVersion != L'\0');
    EXPECT_EQ(text, GetParam().FileVersion);
    text = L"stale";
    EXPECT_EQ(TryReadProductVersion(path, text), *GetParam().ProductVersion != L'\0');
    EXPECT_EQ(text, GetParam().ProductVersion);

    // Both from one read of the block, as each reader gives it.
    const TVersionTexts texts = ReadVersionTexts(path);
    EXPECT_EQ(texts.FileVersion, GetParam().FileVersion);
    EXPECT_EQ(texts.ProductVersion, GetParam().ProductVersion);
}

INSTANTIATE_TEST_SUITE_P(Files, VersionReader, ::testing::ValuesIn(VersionCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(VersionReaderPaths, StringPathsDoubleEverySeparator) {
    EXPECT_EQ(VersionStringPath(0x0407, 0x04E4, L"FileVersion"),
              L"\\\\StringFileInfo\\\\040704E4\\\\FileVersion");
    EXPECT_EQ(VersionStringPath(0x0409, 0x04B0, L"ProductVersion"),
              L"\\\\StringFileInfo\\\\040904B0\\\\ProductVersion");
    EXPECT_EQ(VersionStringPath(0xABCD, 0x0001, L"X"), L"\\\\StringFileInfo\\\\ABCD0001\\\\X");
}

TEST(VersionReaderPaths, AValueNotFoundLeavesTheTextAsItWas) {
    std::wstring text = L"kept";
    EXPECT_FALSE(
        ReadVersionString(FixturePath(L"version_two_translations.exe"), L"Comments", text));
    EXPECT_EQ(text, L"kept");
    EXPECT_TRUE(
        ReadVersionString(FixturePath(L"version_two_translations.exe"), L"CompanyName", text));
    EXPECT_EQ(text, L"Beispiel");
}

TEST(VersionValueText, StopsAtTheTerminatorOrTheLengthGiven) {
    const wchar_t stored[] = {L'2', L'.', L'7', L'\0', L'x', L'y'};
    const struct {
        size_t Length;
        const wchar_t* Text;
    } cases[] = {
        {0, L""}, {1, L"2"}, {3, L"2.7"}, {4, L"2.7"}, {6, L"2.7"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VersionValueText(stored, c.Length), c.Text) << c.Length;
    EXPECT_EQ(VersionValueText(nullptr, 4), L"");
}

// The block walker (an oracle, not the product's reader) against the
// platform's version API over real blocks:
// Wine's own DLLs and the test files, every value name of interest.
TEST(VersionBlock, FindsWhatTheVersionAPIFinds) {
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    std::vector<std::wstring> files;
    for (const wchar_t* name : {L"kernel32.dll", L"user32.dll", L"ntdll.dll", L"shell32.dll",
                                L"comctl32.dll", L"wininet.dll", L"crypt32.dll", L"msi.dll"})
        files.push_back(std::wstring(system) + L"\\" + name);
    for (const TVersionCase& c : VersionCases)
        files.push_back(FixturePath(c.File));

    size_t found = 0;
    for (const std::wstring& file : files) {
        std::vector<std::uint8_t> data;
        if (!LoadVersionInfo(file, data))
            continue;
        for (const wchar_t* name :
             {L"FileVersion", L"ProductVersion", L"CompanyName", L"FileDescription", L"Comments"}) {
            // The platform's answer: the first non-empty value over the translations.
            std::wstring expected;
            LPVOID list = nullptr;
            UINT length = 0;
            if (::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &list, &length) &&
                list)
                for (UINT i = 0; i < length / 4 && expected.empty(); ++i) {
                    const DWORD translation = static_cast<const DWORD*>(list)[i];
                    LPVOID value = nullptr;
                    UINT size = 0;
                    if (::VerQueryValueW(
                            data.data(),
                            VersionStringPath(LOWORD(translation), HIWORD(translation), name)
                                .c_str(),
                            &value, &size) &&
                        value)
                        expected = static_cast<const wchar_t*>(value);
                }
            std::wstring actual;
            EXPECT_EQ(FirstVersionString(data, name, actual), !expected.empty());
            EXPECT_EQ(actual, expected) << file << L" " << name;
            found += expected.empty() ? 0 : 1;
        }
    }
    EXPECT_GT(found, 20u);
}

} // namespace
