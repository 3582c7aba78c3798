// Text values as the registry really holds them, in a key of the test's own.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "platform/Handles.h"
#include "platform/RegistryValue.h"

namespace {

class RegistryValue : public testing::Test {
protected:
    void SetUp() override {
        FKeyName =
            L"Software\\DerodoTests\\RegistryValue" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, FKeyName.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, FKey.addressof(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        FKey.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, FKeyName.c_str());
    }
    void Set(const wchar_t* AName, DWORD AType, const void* AData, DWORD ASize) {
        ASSERT_EQ(
            ::RegSetValueExW(FKey.get(), AName, 0, AType, static_cast<const BYTE*>(AData), ASize),
            ERROR_SUCCESS);
    }

    std::wstring FKeyName;
    TRegKey FKey;
};

TEST_F(RegistryValue, TextIsReadAsStoredMissingIsEmptyOtherTypesAreNone) {
    const wchar_t text[] = L"C:\\Program Files (x86)\\Vexlo";
    const wchar_t expandable[] = L"%ProgramFiles%\\Vexlo";
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    const DWORD number = 7;
    Set(L"text", REG_SZ, text, sizeof(text));
    Set(nullptr, REG_SZ, text, sizeof(text));
    Set(L"expandable", REG_EXPAND_SZ, expandable, sizeof(expandable));
    Set(L"unterminated", REG_SZ, unterminated, sizeof(unterminated));
    Set(L"empty", REG_SZ, L"", sizeof(wchar_t));
    Set(L"number", REG_DWORD, &number, sizeof(number));
    Set(L"list", REG_MULTI_SZ, L"a\0b\0", 5 * sizeof(wchar_t));
    Set(L"binary", REG_BINARY, "abc", 3);

    const struct {
        const wchar_t* Name;
        std::optional<std::wstring> Value;
    } cases[] = {
        {L"text", text},
        {nullptr, text},
        {L"expandable", expandable}, // not expanded
        {L"unterminated", L"abc"},
        {L"empty", L""},
        {L"missing", L""},
        {L"number", std::nullopt},
        {L"list", std::nullopt},
        {L"binary", std::nullopt},
    };
    for (const auto& row : cases)
        EXPECT_EQ(ReadStringValue(FKey.get(), row.Name), row.Value)
            << (row.Name ? row.Name : L"(default)");
}

TEST_F(RegistryValue, ALongValueIsReadWhole) {
    const std::wstring text(20000, L'x');
    Set(L"long", REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(ReadStringValue(FKey.get(), L"long"), text);
}

} // namespace
