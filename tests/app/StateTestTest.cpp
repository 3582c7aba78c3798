// The state test against a fake of the console's seam: the order of the
// questions, the eight lines and the verdict for every driver state.
#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/StateTest.h"
#include "tests/app/FakeConsoleServices.h"

namespace {

class TFakeStateServices : public TFakeConsoleServices {
public:
    bool Installed = false, Running = false, Injected = false;
    bool ServiceExists = false, ServiceRunning = false;
    std::vector<std::string> Asked;

    bool IsInjectionDriverInstalled() override { return Answer("installed", Installed); }
    bool IsInjectionDriverRunning() override { return Answer("running", Running); }
    bool IsLibraryInjected() override { return Answer("injected", Injected); }
    bool FileScanServiceExists() override { return Answer("service exists", ServiceExists); }
    bool FileScanServiceRunning() override { return Answer("service running", ServiceRunning); }

private:
    bool Answer(const char* AQuestion, bool AValue) {
        Asked.push_back(AQuestion);
        return AValue;
    }
};

struct TStateCase {
    bool Installed, Running, Injected, ServiceExists, ServiceRunning;
    const wchar_t* Verdict;
};

const wchar_t* Mark(bool AOk) {
    return AOk ? L"[+] " : L"[-] ";
}

TEST(StateTest, EightLinesInOrderAndTheVerdictOfEveryDriverState) {
    const TStateCase cases[] = {
        {true, true, true, false, false, L"[+] Live Protection is active."},
        {true, true, false, true, true,
         L"[-] Live Protection is installed, running, but not active!"},
        {true, false, true, true, false, L"[-] Live Protection is installed, but not running!"},
        {true, false, false, false, false, L"[-] Live Protection is installed, but not running!"},
        {false, true, true, true, true,
         L"[+] Live Protection is not installed, but running until reboot."},
        {false, true, false, true, false,
         L"[+] Live Protection is not installed, but running until reboot."},
        {false, false, true, false, false, L"[-] Live Protection is not installed!"},
        {false, false, false, true, true, L"[-] Live Protection is not installed!"},
    };
    for (const TStateCase& c : cases) {
        TFakeStateServices services;
        services.Installed = c.Installed;
        services.Running = c.Running;
        services.Injected = c.Injected;
        services.ServiceExists = c.ServiceExists;
        services.ServiceRunning = c.ServiceRunning;
        TLogForm form(services);
        form.RunStateTest();

        const std::vector<std::wstring> expected = {
            L"",
            L"[ State Test ]",
            Mark(c.ServiceExists) + std::wstring(L"SERVICE PRESENCE"),
            Mark(c.ServiceRunning) + std::wstring(L"SERVICE RUNNING"),
            Mark(c.Installed) + std::wstring(L"INSTALLED"),
            Mark(c.Running) + std::wstring(L"RUNNING"),
            Mark(c.Injected) + std::wstring(L"INJECTED"),
            c.Verdict,
        };
        EXPECT_EQ(form.Lines, expected) << c.Installed << c.Running << c.Injected;
        // The driver is asked before the service, though written after it.
        EXPECT_EQ(services.Asked, (std::vector<std::string>{"installed", "running", "injected",
                                                            "service exists", "service running"}));
    }
}

// An unknown answer leaves the verdict where both of its values give the
// same line, and none where they part.
TEST(StateTest, TheVerdictOfUnknownAnswersIsNoGuess) {
    const TAnswer yes = TAnswer::Of(true), no = TAnswer::Of(false);
    const TAnswer refused = TAnswer::Unknown(ERROR_ACCESS_DENIED);
    const struct {
        TAnswer Installed, Running, Injected;
        const wchar_t* Verdict; // null: none
    } cases[] = {
        {refused, yes, yes, nullptr},
        {refused, no, no, nullptr},
        {yes, refused, no, nullptr},
        {no, refused, yes, nullptr},
        {yes, yes, refused, nullptr},
        {refused, refused, refused, nullptr},
        {yes, no, refused, L"Live Protection is installed, but not running!"},
        {no, yes, refused, L"Live Protection is not installed, but running until reboot."},
        {no, no, refused, L"Live Protection is not installed!"},
        {yes, yes, no, L"Live Protection is installed, running, but not active!"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& row = cases[i];
        const std::optional<TStateVerdict> verdict =
            StateVerdict(row.Installed, row.Running, row.Injected);
        ASSERT_EQ(verdict.has_value(), row.Verdict != nullptr) << "case " << i;
        if (verdict) {
            EXPECT_STREQ(verdict->Text, row.Verdict) << "case " << i;
        }
    }
    // Known answers give the verdict of their yes and no.
    for (const bool installed : {false, true}) {
        for (const bool running : {false, true}) {
            for (const bool injected : {false, true}) {
                const std::optional<TStateVerdict> verdict = StateVerdict(
                    TAnswer::Of(installed), TAnswer::Of(running), TAnswer::Of(injected));
                ASSERT_TRUE(verdict);
                EXPECT_STREQ(verdict->Text, StateVerdict(installed, running, injected).Text);
            }
        }
    }
}

TEST(StateTest, EveryRunAsksAfreshAndAppends) {
    TFakeStateServices services;
    services.Installed = services.Running = services.Injected = true;
    TLogForm form(services);
    form.RunStateTest();
    form.RunStateTest();
    ASSERT_EQ(form.Lines.size(), 16u);
    EXPECT_EQ(std::vector<std::wstring>(form.Lines.begin(), form.Lines.begin() + 8),
              std::vector<std::wstring>(form.Lines.begin() + 8, form.Lines.end()));
    EXPECT_EQ(services.Asked.size(), 10u);

    services.Injected = false;
    form.RunStateTest();
    EXPECT_EQ(form.Lines.back(), L"[-] Live Protection is installed, running, but not active!");
}

} // namespace
