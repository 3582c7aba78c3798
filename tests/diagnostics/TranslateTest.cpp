#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics/Translate.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/WinText.h"

namespace {

// Every text the library passes through Translate, which the German catalog
// must translate.
const wchar_t* const CatalogTexts[] = {
    L"success",
    L"no signature",
    L"explicit distrust",
    L"subject not trusted",
    L"security settings",
    L"unavailable",
    L"unknown",
    L"Vexlo-Q&V 2 Scanner Service",
    L"System service responsible for scanning single files during on-access or custom demand "
    L"scans, as well as internet connections.",
    L"Vexlo-Q&V 2 Monitoring Service",
    L"Helps Vexlo monitoring the system.",
    L"Vexlo-Q&V 2 Scan On Demand Service",
    L"System service responsible for full system scans.",
    L"Vexlo-Q&V 2 Updating Service",
    L"System service responsible for downloading and installing updates in the background.",
    L"Vexlo-Q&V 2 Live Protection Background Service",
    L"System wide process monitoring to protect your computer and detect malware in real time.",
    L"Vexlo-Q&V 2 Security Center Service",
    L"Integration into the systems Windows Security Center.",
    L"Could not install the Live Protection driver; error code is %d (%s).",
    L"Could not install the Live Protection driver.",
    L"Could not start the Live Protection driver; error code is %d (%s).",
    L"Could not start the Live Protection driver.",
    L"Could not activate the Live Protection driver; error code is %d (%s).",
    L"Could not activate the Live Protection.",
    L"The system refused the deletion; error code is %d (%s).",
    L"The system refused the deletion; error code is %d (%s): a running program or driver has "
    L"the file loaded.",
};

// Leaves the language as it found it.
class TranslateTest : public testing::Test {
protected:
    void SetUp() override { FLanguage = CurrentLanguage(); }
    void TearDown() override { UseLanguage(FLanguage); }

private:
    std::wstring FLanguage;
};

TEST_F(TranslateTest, GermanCatalogTranslatesEveryLibraryText) {
    UseLanguage(L"de");
    EXPECT_EQ(Translate(L"no signature"), L"keine Signatur");
    EXPECT_EQ(Translate(L"unavailable"), L"nicht verfügbar") << "UTF-8 catalog";
    for (const wchar_t* text : CatalogTexts) {
        SCOPED_TRACE(WideToUtf8(text));
        const std::wstring translated = Translate(text);
        EXPECT_NE(translated, text);
        const std::wstring original = text;
        if (original.find(L"%d") != std::wstring::npos) {
            const size_t code = translated.find(L"%d");
            ASSERT_NE(code, std::wstring::npos);
            EXPECT_NE(translated.find(L"%s", code), std::wstring::npos) << "%d before %s";
        }
    }
}

TEST_F(TranslateTest, TextsStayEnglishWithoutACatalog) {
    UseLanguage(L"en_IE");
    for (const wchar_t* text : CatalogTexts)
        EXPECT_EQ(Translate(text), text);
    UseLanguage(L"de");
    EXPECT_EQ(Translate(L"not in any catalog"), L"not in any catalog");
    EXPECT_EQ(Translate(L""), L"") << "the empty text is not the catalog's header";
}

TEST_F(TranslateTest, CarriageReturnsAreDroppedForTheLookupAndWrittenBeforeEveryLineFeed) {
    UseLanguage(L"de");
    const struct {
        const wchar_t* Text;
        const wchar_t* Expected;
    } cases[] = {
        {L"one line", L"one line"},
        {L"first\nsecond", L"first\r\nsecond"},
        {L"first\r\nsecond", L"first\r\nsecond"},
        {L"\n\n", L"\r\n\r\n"},
        {L"lone\rreturn", L"lonereturn"},
        {L"a\r\r\nb", L"a\r\nb"},
        {L"no sig\rnature", L"keine Signatur"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.Text));
        EXPECT_EQ(Translate(c.Text), c.Expected);
    }
}

TEST_F(TranslateTest, AnEmptyCodeLeavesTheChoiceToLang) {
    const char* inherited = std::getenv("LANG");
    const std::string saved = inherited ? inherited : "";
    _putenv("LANG=de_DE.UTF-8");
    UseLanguage(L"");
    EXPECT_EQ(Translate(L"unknown"), L"unbekannt");
    _putenv("LANG=en_IE.UTF-8");
    UseLanguage(L"");
    EXPECT_EQ(Translate(L"unknown"), L"unknown");
    _putenv(("LANG=" + saved).c_str());
}

TEST(Replacers, ApplyInOrderEachSplitAtItsFirstEquals) {
    const struct {
        std::vector<std::pair<std::wstring, std::wstring>> Entries;
        const wchar_t* Text;
        const wchar_t* Expected;
    } cases[] = {
        {{}, L"unchanged", L"unchanged"},
        {{{L"a", L"b"}, {L"b", L"c"}}, L"a", L"c"},
        {{{L"b", L"c"}, {L"a", L"b"}}, L"a", L"b"},
        {{{L"an", L"a"}}, L"banana An", L"baaa An"},
        {{{L"x=y", L"z"}}, L"x x=y", L"y=z y=z=y"},
        {{{L"", L"q"}}, L"empty search", L"empty search"},
        {{{L"aa", L"a"}}, L"aaaa", L"aa"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.Text));
        TReplacers replacers;
        for (const auto& [original, replacement] : c.Entries)
            replacers.AddStringReplacer(original, replacement);
        EXPECT_EQ(replacers.Replace(c.Text), c.Expected);
    }
}

// A registry key's chain below a root, removed again by the test as far as
// the test created it and nothing else has been stored there meanwhile.
class TKeyChainCleanup {
public:
    TKeyChainCleanup(HKEY ARoot, const std::wstring& AKeyName) : FRoot(ARoot) {
        for (size_t end = 0; end != std::wstring::npos;) {
            end = AKeyName.find(L'\\', end + 1);
            const std::wstring key = AKeyName.substr(0, end);
            TRegKey opened;
            if (::RegOpenKeyExW(FRoot, key.c_str(), 0, KEY_READ, opened.addressof()) !=
                ERROR_SUCCESS)
                FCreated.insert(FCreated.begin(), key);
        }
    }
    ~TKeyChainCleanup() {
        for (const std::wstring& key : FCreated) {
            DWORD subkeys = 1, values = 1;
            TRegKey opened;
            if (::RegOpenKeyExW(FRoot, key.c_str(), 0, KEY_READ, opened.addressof()) ==
                    ERROR_SUCCESS &&
                ::RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                   nullptr, &values, nullptr, nullptr, nullptr,
                                   nullptr) == ERROR_SUCCESS &&
                subkeys == 0 && values == 0) {
                opened.reset();
                ::RegDeleteKeyW(FRoot, key.c_str());
            }
        }
    }

private:
    HKEY FRoot;
    std::vector<std::wstring> FCreated; // innermost first
};

std::optional<std::wstring> ReadRecord(HKEY ARoot, const wchar_t* AKeyName,
                                       const std::wstring& AFolder) {
    wchar_t data[256] = {};
    DWORD size = sizeof(data);
    if (::RegGetValueW(ARoot, AKeyName, AFolder.c_str(), RRF_RT_REG_SZ, nullptr, data, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

void DeleteRecord(HKEY ARoot, const wchar_t* AKeyName, const std::wstring& AFolder) {
    ::RegDeleteKeyValueW(ARoot, AKeyName, AFolder.c_str());
}

std::wstring UserLanguageName() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME, name, LOCALE_NAME_MAX_LENGTH);
    return name;
}

void RestoreRecord(HKEY ARoot, const wchar_t* AKeyName, const std::wstring& AFolder,
                   const std::optional<std::wstring>& ACode) {
    if (!ACode) {
        DeleteRecord(ARoot, AKeyName, AFolder);
        return;
    }
    ::RegSetKeyValueW(ARoot, AKeyName, AFolder.c_str(), REG_SZ, ACode->c_str(),
                      static_cast<DWORD>((ACode->size() + 1) * sizeof(wchar_t)));
}

// The module's own start-up, for the program folder of this test program;
// what it records is put back as it was.
TEST_F(TranslateTest, StartUpActivatesAndRecordsTheChoiceAndShutDownDropsReplacers) {
    const std::wstring folder = ProgramFolder();
    TKeyChainCleanup userKeys(HKEY_CURRENT_USER, LocalizationKey);
    TKeyChainCleanup systemKeys(HKEY_USERS, SystemLocalizationKey);
    const auto userBefore = ReadRecord(HKEY_CURRENT_USER, LocalizationKey, folder);
    const auto systemBefore = ReadRecord(HKEY_USERS, SystemLocalizationKey, folder);
    const std::wstring expected = ChooseLanguage();

    LanguageStartUp();
    EXPECT_EQ(CurrentLanguage(), expected);
    EXPECT_EQ(ReadRecord(HKEY_CURRENT_USER, LocalizationKey, folder), expected);
    EXPECT_EQ(ReadRecord(HKEY_USERS, SystemLocalizationKey, folder), expected);
    ASSERT_NE(Replacers(), nullptr);
    Replacers()->AddStringReplacer(L"Signatur", L"Unterschrift");
    UseLanguage(L"de");
    EXPECT_EQ(Translate(L"no signature"), L"keine Unterschrift");
    LanguageShutDown();
    EXPECT_EQ(Replacers(), nullptr);
    EXPECT_EQ(Translate(L"no signature"), L"keine Signatur");

    RestoreRecord(HKEY_CURRENT_USER, LocalizationKey, folder, userBefore);
    RestoreRecord(HKEY_USERS, SystemLocalizationKey, folder, systemBefore);
}

// The real keys of the current user and of the local system account, with
// the language recorded for a program folder of the test's own: what the
// test records there, it removes again.
class LanguageRecordTest : public TranslateTest {
protected:
    void SetUp() override {
        TranslateTest::SetUp();
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        FFolder = std::wstring(temp) + L"derodo-language-" +
                  std::to_wstring(::GetCurrentProcessId()) + L"\\";
        ::CreateDirectoryW(FFolder.c_str(), nullptr);
    }
    void TearDown() override {
        DeleteRecord(HKEY_CURRENT_USER, LocalizationKey, FFolder);
        DeleteRecord(HKEY_USERS, SystemLocalizationKey, FFolder);
        if (!FLocaleFolder.empty()) {
            ::RemoveDirectoryW(FLocaleFolder.c_str());
            ::RemoveDirectoryW((FFolder + L"locale").c_str());
        }
        ::RemoveDirectoryW(FFolder.c_str());
        TranslateTest::TearDown();
    }

    // Makes "locale\<user's language>" in the folder.
    void AddLocaleFolderForTheUsersLanguage() {
        ASSERT_FALSE(UserLanguageName().empty());
        ::CreateDirectoryW((FFolder + L"locale").c_str(), nullptr);
        FLocaleFolder = FFolder + L"locale\\" + UserLanguageName();
        ASSERT_TRUE(::CreateDirectoryW(FLocaleFolder.c_str(), nullptr));
    }
    void Record(const std::wstring& ACode) {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, LocalizationKey, FFolder.c_str(), REG_SZ,
                                    ACode.c_str(),
                                    static_cast<DWORD>((ACode.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    std::wstring FFolder;
    std::wstring FLocaleFolder;
    TKeyChainCleanup FUserKeys{HKEY_CURRENT_USER, LocalizationKey};
    TKeyChainCleanup FSystemKeys{HKEY_USERS, SystemLocalizationKey};
};

TEST_F(LanguageRecordTest, ActivatingRecordsTheCodeForBothAccounts) {
    ActivateLanguage(L"de", FFolder);
    EXPECT_EQ(ReadRecord(HKEY_CURRENT_USER, LocalizationKey, FFolder), L"de");
    EXPECT_EQ(ReadRecord(HKEY_USERS, SystemLocalizationKey, FFolder), L"de");
    EXPECT_EQ(CurrentLanguage(), L"de");
    EXPECT_EQ(Translate(L"success"), L"Erfolg");
    EXPECT_EQ(ChooseLanguage(FFolder), L"de") << "the next start reads it back";
}

TEST_F(LanguageRecordTest, AKeyWithoutValueForTheFolderChoosesAnEmptyCode) {
    Record(L"de");
    DeleteRecord(HKEY_CURRENT_USER, LocalizationKey, FFolder);
    AddLocaleFolderForTheUsersLanguage();
    const std::wstring code = ChooseLanguage(FFolder);
    EXPECT_EQ(code, L"");
    ActivateLanguage(code, FFolder);
    EXPECT_EQ(ReadRecord(HKEY_CURRENT_USER, LocalizationKey, FFolder), L"");
    EXPECT_EQ(ReadRecord(HKEY_USERS, SystemLocalizationKey, FFolder), L"");
}

TEST_F(LanguageRecordTest, ARecordedCodeWinsOverTheLocaleFolder) {
    AddLocaleFolderForTheUsersLanguage();
    Record(L"fr");
    EXPECT_EQ(ChooseLanguage(FFolder), L"fr");
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, LocalizationKey, FFolder.c_str(), REG_DWORD,
                                "\1\0\0\0", 4),
              ERROR_SUCCESS);
    EXPECT_EQ(ChooseLanguage(FFolder), UserLanguageName())
        << "a value that is no text is passed over";
}

// Without any key the choice falls to the user's language when the folder has
// a catalog folder for it, else to en_IE. The keys are taken away for the
// test (and put back) by pointing the process's HKEY_CURRENT_USER and
// HKEY_USERS at empty keys of a scratch tree.
class LanguageWithoutRecordTest : public LanguageRecordTest {
protected:
    void SetUp() override {
        LanguageRecordTest::SetUp();
        FScratchName =
            L"Software\\derodo-tests\\language-" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (FScratchName + L"\\user").c_str(), 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, FUser.addressof(),
                                    nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (FScratchName + L"\\users").c_str(), 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, FUsers.addressof(),
                                    nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, FUser.get()), ERROR_SUCCESS);
        ASSERT_EQ(::RegOverridePredefKey(HKEY_USERS, FUsers.get()), ERROR_SUCCESS);
    }
    void TearDown() override {
        ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        ::RegOverridePredefKey(HKEY_USERS, nullptr);
        FUser.reset();
        FUsers.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, FScratchName.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\derodo-tests");
        LanguageRecordTest::TearDown();
    }

    std::optional<std::wstring> Recorded(HKEY AAccount, const wchar_t* AKeyName) {
        return ReadRecord(AAccount, AKeyName, FFolder);
    }

    std::wstring FScratchName;
    TRegKey FUser, FUsers;
};

TEST_F(LanguageWithoutRecordTest, NoLocaleFolderChoosesEnIE) {
    const std::wstring code = ChooseLanguage(FFolder);
    EXPECT_EQ(code, L"en_IE");
    ActivateLanguage(code, FFolder);
    EXPECT_EQ(ReadRecord(FUser.get(), LocalizationKey, FFolder), L"en_IE");
    EXPECT_EQ(ReadRecord(FUsers.get(), SystemLocalizationKey, FFolder), L"en_IE");
    EXPECT_EQ(Translate(L"no signature"), L"no signature");
}

TEST_F(LanguageWithoutRecordTest, ALocaleFolderForTheUsersLanguageChoosesIt) {
    AddLocaleFolderForTheUsersLanguage();
    EXPECT_EQ(ChooseLanguage(FFolder), UserLanguageName());
}

} // namespace
