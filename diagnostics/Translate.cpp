#include "diagnostics/Translate.h"

#include <windows.h>

#include <cstdlib>

#include "diagnostics/DebugLogger.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/RegistryValue.h"
#include "platform/WinText.h"

// Last: it redefines printf, setlocale and other C library names.
#include <libintl.h>

namespace {

const char* const TextDomain = "default";

std::unique_ptr<TReplacers> GReplacers;
std::wstring GCurrentLanguage;

// The domain is bound once, on first use, to the absolute folder: a relative
// one would resolve against the current directory, and only the wide form
// copes with folders outside the ANSI code page.
void BindCatalogs() {
    static const bool bound = [] {
        ::wbindtextdomain(TextDomain, (ProgramFolder() + L"locale").c_str());
        ::textdomain(TextDomain);
        return true;
    }();
    (void)bound;
}

std::wstring WithCarriageReturns(const std::wstring& AText) {
    std::wstring result;
    result.reserve(AText.size());
    for (size_t index = 0; index < AText.size(); ++index) {
        if (AText[index] == L'\n' && (index == 0 || AText[index - 1] != L'\r'))
            result += L'\r';
        result += AText[index];
    }
    return result;
}

std::wstring ReplaceAll(const std::wstring& AText, const std::wstring& ASearch,
                        const std::wstring& AReplacement) {
    if (ASearch.empty())
        return AText;
    std::wstring result;
    size_t start = 0;
    for (size_t found; (found = AText.find(ASearch, start)) != std::wstring::npos;
         start = found + ASearch.size())
        result.append(AText, start, found - start).append(AReplacement);
    return result.append(AText, start, std::wstring::npos);
}

bool DirectoryExists(const std::wstring& APath) {
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring UserLanguageName() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME, name,
                         LOCALE_NAME_MAX_LENGTH) <= 0)
        return {};
    return name;
}

// The recorded code, if the key holds a string value for AValueName; a
// missing value counts as an empty code. A value of another type cannot be a
// language code and leaves ACode as it was.
void ReadRecordedLanguage(HKEY AKey, const std::wstring& AValueName, std::wstring& ACode) {
    if (std::optional<std::wstring> code = ReadStringValue(AKey, AValueName.c_str()))
        ACode = *code;
}

void WriteRecordedLanguage(HKEY ARoot, const wchar_t* AKeyName, const std::wstring& AValueName,
                           const std::wstring& ACode) {
    TRegKey key;
    if (::RegCreateKeyExW(ARoot, AKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                          nullptr, key.addressof(), nullptr) != ERROR_SUCCESS)
        return;
    ::RegSetValueExW(key.get(), AValueName.c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(ACode.c_str()),
                     static_cast<DWORD>((ACode.size() + 1) * sizeof(wchar_t)));
}

void PutEnvironment(const std::string& AName, const std::string& AValue) {
    // The C runtime's own environment: gettext reads it with getenv, which
    // does not see SetEnvironmentVariableW. An empty value removes the name.
    ::_putenv((AName + "=" + AValue).c_str());
}

} // namespace

std::wstring Translate(const std::wstring& AText) {
    std::wstring result;
    // The empty message identifies a catalog's header: it is not looked up.
    if (!AText.empty()) {
        BindCatalogs();
        std::string key = WideToUtf8(AText);
        std::erase(key, '\r');
        result = Utf8ToWide(::dgettext(TextDomain, key.c_str()));
    }
    result = WithCarriageReturns(result);
    if (const TReplacers* replacers = Replacers())
        result = replacers->Replace(result);
    return result;
}

void TReplacers::AddStringReplacer(const std::wstring& AOriginal, const std::wstring& ANew) {
    FList.push_back(AOriginal + L"=" + ANew);
}

std::wstring TReplacers::Replace(const std::wstring& AText) const {
    std::wstring text = AText;
    for (const std::wstring& entry : FList) {
        const size_t separator = entry.find(L'=');
        text = ReplaceAll(text, entry.substr(0, separator), entry.substr(separator + 1));
    }
    return text;
}

TReplacers* Replacers() {
    return GReplacers.get();
}

std::wstring ChooseLanguage() {
    return ChooseLanguage(ProgramFolder());
}

std::wstring ChooseLanguage(const std::wstring& AProgramFolder) {
    std::wstring code = L"en_IE";
    const std::wstring userLanguage = UserLanguageName();
    if (!userLanguage.empty() && DirectoryExists(AProgramFolder + L"locale\\" + userLanguage))
        code = userLanguage;
    TRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, LocalizationKey, 0, KEY_QUERY_VALUE, key.addressof()) ==
        ERROR_SUCCESS)
        ReadRecordedLanguage(key.get(), AProgramFolder, code);
    return code;
}

void ActivateLanguage(const std::wstring& ACode) {
    ActivateLanguage(ACode, ProgramFolder());
}

void ActivateLanguage(const std::wstring& ACode, const std::wstring& AProgramFolder) {
    UseLanguage(ACode);
    SaveLanguage(ACode, AProgramFolder);
}

void SaveLanguage(const std::wstring& ACode) {
    SaveLanguage(ACode, ProgramFolder());
}

void SaveLanguage(const std::wstring& ACode, const std::wstring& AProgramFolder) {
    WriteRecordedLanguage(HKEY_CURRENT_USER, LocalizationKey, AProgramFolder, ACode);
    WriteRecordedLanguage(HKEY_USERS, SystemLocalizationKey, AProgramFolder, ACode);
}

// gettext takes LANGUAGE first, but ignores it when the locale resolves to
// "C": LC_ALL is set along with it. Removing both leaves the choice to LANG
// and then the user's locale. Switching the domain again makes gettext drop
// the translations it has cached for the previous language.
void UseLanguage(const std::wstring& ACode) {
    BindCatalogs();
    const std::string code = WideToUtf8(ACode);
    PutEnvironment("LANGUAGE", code);
    PutEnvironment("LC_ALL", code);
    ::textdomain(TextDomain);
    GCurrentLanguage = ACode;
}

std::wstring CurrentLanguage() {
    return GCurrentLanguage;
}

void LanguageStartUp() {
    TDebugUnitTrace trace(L"Taurix.Localizer", dlsUnitInitialization);
    BindCatalogs();
    GReplacers = std::make_unique<TReplacers>();
    ActivateLanguage(ChooseLanguage());
}

void LanguageShutDown() {
    TDebugUnitTrace trace(L"Taurix.Localizer", dlsUnitFinalization);
    GReplacers.reset();
}
