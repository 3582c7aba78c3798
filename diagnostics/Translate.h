// Translation of the texts the library shows to users, through GNU gettext
// catalogs of the domain "default" in the folder "locale" beside the
// executable (locale\<code>\LC_MESSAGES\default.mo), followed by the
// process-wide text replacements. The language is chosen at start-up per
// program folder and recorded in the registry.
#pragma once

#include <memory>
#include <string>
#include <vector>

// The text in the current language, with line breaks written as CR LF and the
// replacements of Replacers() applied. A text without a translation comes
// back as it is, apart from its line breaks.
std::wstring Translate(const std::wstring& AText);

// Text replacements applied to every translation, in the order added.
class TReplacers {
public:
    // Appends the entry AOriginal + "=" + ANew. The entry is split at its first
    // "=", so an "=" in AOriginal ends the search text there.
    void AddStringReplacer(const std::wstring& AOriginal, const std::wstring& ANew);
    // Every entry in turn, each replacing every occurrence (case-sensitive) in
    // the result of the previous one.
    std::wstring Replace(const std::wstring& AText) const;

private:
    std::vector<std::wstring> FList;
};

// The process-wide replacements; null outside the module's start-up and shut-down.
TReplacers* Replacers();

// The language code to use: "en_IE"; or the user's language (ISO 639 name)
// when a catalog folder "locale\<name>" exists in the program folder; or what
// the registry recorded for the program folder, when the key exists (an empty
// code when it holds no value for the folder). AProgramFolder ends with "\".
std::wstring ChooseLanguage();
std::wstring ChooseLanguage(const std::wstring& AProgramFolder);
// Switches translation to ACode and records it for the program folder.
void ActivateLanguage(const std::wstring& ACode);
void ActivateLanguage(const std::wstring& ACode, const std::wstring& AProgramFolder);
// Records ACode for the program folder for the current user and for the local
// system account; each write may fail on its own and failures are ignored.
void SaveLanguage(const std::wstring& ACode);
void SaveLanguage(const std::wstring& ACode, const std::wstring& AProgramFolder);
// Switches translation to ACode; an empty code leaves the choice to gettext
// (the LANG environment variable, else the user's locale).
void UseLanguage(const std::wstring& ACode);
// The code last passed to UseLanguage (empty before).
std::wstring CurrentLanguage();

// Where the language choice is recorded: under these keys, a string value
// named by the program folder (with its trailing "\") holds the code.
inline constexpr const wchar_t* LocalizationKey =
    L"Software\\Quorvane Tessit Limited\\Localization";
inline constexpr const wchar_t* SystemLocalizationKey =
    L"S-1-5-18\\Software\\Quorvane Tessit Limited\\Localization"; // under HKEY_USERS

// Module steps: the start-up binds the catalogs, creates Replacers, chooses
// and activates the language; the shut-down destroys Replacers.
void LanguageStartUp();
void LanguageShutDown();
