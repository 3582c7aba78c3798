// The replacement against servers that break HTTP or send what is no whole
// image, or one of another kind, on the real file system: every answer fails
// with its code, and the installed file and its backup stay as they were,
// byte for byte. The installed files are real images of the build; the
// server has the alternative builds (the same images with bytes of their own
// inside them) and, in folders of their own, what must not take their place.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/AlternativeFiles.h"
#include "app/LiveProtectionFiles.h"
#include "download/DownloadRunner.h"
#include "download/WinINet.h"
#include "fixtures/fileidentity/TestCA.h"
#include "platform/ProgramPath.h"
#include "platform/WinText.h"
#include "tests/app/FakeConsoleServices.h"
#include "tests/automation/LoopbackServer.h"
#include "tests/support/SilenceLimit.h"
#include "tests/support/TestBuilds.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

std::wstring Backup(size_t AIndex) {
    return ProgramFolder() + BackupFolderName + LiveProtectionFiles[AIndex];
}

// The image of the build, beside the folder this program runs in.
std::string Original(size_t AIndex) {
    return ReadWholeFile(FixturePath(L"..\\" + std::wstring(LiveProtectionFiles[AIndex])));
}

std::string Original(const wchar_t* AName) {
    return ReadWholeFile(FixturePath(L"..\\" + std::wstring(AName)));
}

// For each file, in a folder of the server: what arrives of a build with
// bytes after its image when the answer breaks off inside them (or is
// read as far as the first half of them), and whole images that are not of
// the file's kind. The file's 32-bit or 64-bit twin, a program of its machine
// in the place of a library or driver (and a driver for a program), its
// headers alone, its image for another machine, and one whose size in memory
// no loader maps.
void WriteWrongBuilds(const std::wstring& AServed) {
    struct TTwin {
        const wchar_t* Bitness;
        const wchar_t* Program; // or a driver, for a program
    };
    const TTwin twins[] = {
        {L"QVHook64.dll", L"QVHookInst32.exe"},    {L"QVHook32.dll", L"QVHookInst64.exe"},
        {L"QVHookDrv64.sys", L"QVHookInst32.exe"}, {L"QVHookDrv32.sys", L"QVHookInst64.exe"},
        {L"QVHookInst32.exe", L"QVHookDrv64.sys"}, {L"QVHookInst64.exe", L"QVHookDrv32.sys"},
        {L"QVHookInst32.exe", L"QVHookDrv64.sys"},
    };
    for (const wchar_t* folder :
         {L"trailing1000", L"trailing", L"bitness", L"program", L"headers", L"machine", L"size"})
        std::filesystem::create_directories(AServed + folder);
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring name = LiveProtectionFiles[i];
        const std::string image = Original(i);
        const TImageLayout layout(image);
        const std::string after(image.size() + 2000, 't');
        WriteWholeFile(AServed + L"trailing1000\\" + name, image + after.substr(0, 1000));
        WriteWholeFile(AServed + L"trailing\\" + name, image + after);
        WriteWholeFile(AServed + L"bitness\\" + name, Original(twins[i - 1].Bitness));
        WriteWholeFile(AServed + L"program\\" + name, Original(twins[i - 1].Program));
        std::string headers = image.substr(0, GetField(image, layout.Optional + 60));
        PutField(headers, layout.FileHeader + 2, 0, 2);
        PutField(headers, layout.FileHeader + 8, 0); // no symbol table
        PutField(headers, layout.Directories + 32, 0);
        PutField(headers, layout.Directories + 36, 0);
        WriteWholeFile(AServed + L"headers\\" + name, headers);
        std::string machine = image;
        PutField(machine, layout.FileHeader, 0xAA64, 2); // ARM64
        WriteWholeFile(AServed + L"machine\\" + name, machine);
        std::string size = image;
        PutField(size, layout.Optional + 56, 0xFFFFFFFF);
        WriteWholeFile(AServed + L"size\\" + name, size);
    }
}

class AlternativeFilesHostileServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WinINetStartUp();
        ASSERT_TRUE(TrustTestCA(FixturePath(L"..\\testca\\ca.cer")));
    }

    void SetUp() override {
        std::error_code ignored;
        fs::remove_all(ProgramFolder() + BackupFolderName, ignored);
        FServed = MakeTestFolder(L"hostile-served");
        FPlainLog = FServed + L"plain.log";
        for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
            ASSERT_GT(Original(i).size(), 1024u);
            WriteWholeFile(LiveProtectionFilePath(i), Original(i));
            WriteWholeFile(FServed + LiveProtectionFiles[i],
                           ImageBuild(Original(i), "alternative build"));
        }
        WriteWrongBuilds(FServed);
        TLoopbackServerOptions options;
        options.Root = FServed;
        options.Log = FPlainLog;
        FPlain = std::make_unique<TLoopbackServer>(options);
        options.Log.clear();
        options.CertFile = FixturePath(L"..\\testca\\server.pem");
        options.KeyFile = FixturePath(L"..\\testca\\server.key");
        FSecure = std::make_unique<TLoopbackServer>(options);
    }
    void TearDown() override {
        for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
            ::DeleteFileW(LiveProtectionFilePath(i).c_str());
        // The transfers left behind in the platform return once their servers
        // have closed their connections, and end before the program does: one
        // still inside WinINet when the process ends is cut off there.
        FPlain.reset();
        FSecure.reset();
        EXPECT_EQ(JoinDownloadsLeftBehind(LeftBehindBoundMs), 0u);
    }

    // A folder on the test's server, or a whole address as it stands.
    std::wstring Base(bool ASecure, const std::string& AFolder) const {
        if (AFolder.rfind("http", 0) == 0)
            return AnsiToWide(AFolder);
        const TLoopbackServer& server = ASecure ? *FSecure : *FPlain;
        return AnsiToWide((ASecure ? "https" : "http") + std::string("://127.0.0.1:") +
                          std::to_string(server.Port()) + AFolder);
    }

    struct TCase {
        std::string Folder;
        int32_t Code;
        // Rows that test a bound: it ended within the sum of the shortened
        // limits, twice over.
        bool Bounded = false;
    };
    // The limits, shortened so that every row ends within seconds.
    static TDownloadLimits ShortLimits() {
        TDownloadLimits limits;
        limits.SilenceMs = 1500;
        limits.ConnectMs = 1500;
        limits.HeadMs = 3000;
        limits.LowSpeedWindowMs = 2000;
        limits.AbandonGraceMs = 1000;
        return limits;
    }
    // How long the transfers left behind may take to end once their servers
    // are gone, generously.
    static constexpr uint32_t LeftBehindBoundMs = 20000;
    static double RowBoundSeconds() {
        const TDownloadLimits limits = ShortLimits();
        return 2 *
               (limits.ConnectMs + limits.HeadMs + limits.LowSpeedWindowMs +
                limits.AbandonGraceMs) /
               1000.0;
    }
    // Any "Unable to download" line but one with code 0.
    static constexpr int32_t AnyFailure = -1;
    // Each row through ReplaceFile, drivers, libraries and programs in turn.
    void ExpectNothingReplaced(bool ASecure, const std::vector<TCase>& ACases) {
        TSystemConsoleServices services;
        size_t row = 0;
        for (const TCase& c : ACases) {
            const TDownloadLimitsForTest limits(ShortLimits());
            const size_t index = FirstAlternativeFile + row++ % (LiveProtectionFiles.size() - 1);
            const std::wstring base = Base(ASecure, c.Folder);
            TLogForm form(services);
            const auto start = std::chrono::steady_clock::now();
            ReplaceFile(services, form, base, index);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            if (c.Bounded) {
                EXPECT_LT(took.count(), RowBoundSeconds()) << WideToUtf8(base);
            }
            ASSERT_FALSE(form.Lines.empty());
            if (c.Code == AnyFailure) {
                EXPECT_EQ(form.Lines.back().rfind(L"[-] Unable to download: ", 0), 0u)
                    << WideToUtf8(base);
                EXPECT_NE(form.Lines.back(), L"[-] Unable to download: 0");
            } else {
                EXPECT_EQ(form.Lines.back(), L"[-] Unable to download: " + std::to_wstring(c.Code))
                    << WideToUtf8(base);
            }
            // Compared whole, reported by size: the bytes are images.
            const std::string installed = ReadWholeFile(LiveProtectionFilePath(index));
            const std::string backup = ReadWholeFile(Backup(index));
            EXPECT_TRUE(installed == Original(index))
                << WideToUtf8(base) << ": " << installed.size() << " bytes installed";
            EXPECT_TRUE(backup == Original(index))
                << WideToUtf8(base) << ": " << backup.size() << " bytes in the backup";
        }

        // The same server hands out whole images, and those are installed.
        TLogForm form(services);
        ReplaceFile(services, form, Base(ASecure, "/files/"), 1);
        EXPECT_TRUE(ReadWholeFile(LiveProtectionFilePath(1)) ==
                    ImageBuild(Original(1), "alternative build"));
    }

    // The same answers over HTTP and HTTPS.
    static std::vector<TCase> BrokenAnswers() {
        return {
            // No head but a status line, or none at all.
            {"/hostile/status-then-close/", ERROR_HTTP_INVALID_SERVER_RESPONSE},
            {"/hostile/no-status-line/", ERROR_HTTP_INVALID_SERVER_RESPONSE},
            // Wine's client takes a cut chunked body for a whole one and the
            // image check finds it cut (193); Windows' may fail the read first.
            {"/hostile/chunked-cut/", AnyFailure},
            {"/hostile/chunked-unended/", AnyFailure},
            {"/hostile/length/-1/400/", ERROR_HTTP_INVALID_SERVER_RESPONSE},
            {"/hostile/length/" + std::string(40, '0') + "100000/400/",
             ERROR_INTERNET_CONNECTION_RESET},
            {"/hostile/length/99999999999999999999/400/", ERROR_HTTP_INVALID_SERVER_RESPONSE},
            // A 200 with nothing, or with what is no image.
            {"/bytes/0/", DownloadNotAnImageCode},
            {"/bytes/40000/", DownloadNotAnImageCode},
            {"/hostile/silent/100/", ERROR_INTERNET_TIMEOUT},
            // A whole image with bytes after it: the answer may have broken
            // off inside them (no length and a close, a chunked body without
            // its last chunk), and nothing tells how many were meant.
            {"/hostile/no-length/trailing1000/", DownloadNotAnImageCode},
            {"/hostile/chunked-unended/trailing/", DownloadNotAnImageCode},
            // Whole images of another kind than the installed file.
            {"/files/bitness/", DownloadNotAnImageCode},
            {"/files/program/", DownloadNotAnImageCode},
            {"/files/headers/", DownloadNotAnImageCode},
            {"/files/machine/", DownloadNotAnImageCode},
            {"/files/size/", DownloadNotAnImageCode},
            // A byte now and then, in the body or in the head: each keeps
            // the silence limit, neither gets anywhere.
            {"/hostile/trickle/300/", ERROR_INTERNET_TIMEOUT, true},
            {"/hostile/drip-status/300/", ERROR_INTERNET_TIMEOUT, true},
            // The true length, then another.
            {"/hostile/lengths/100/", ERROR_HTTP_INVALID_SERVER_RESPONSE},
            // Lengths no product file comes near: refused before any room is made.
            {"/hostile/length/99999999999/400/", DownloadBodyTooLargeCode},
            {"/hostile/length/9223372036854775807/400/", DownloadBodyTooLargeCode},
        };
    }

    std::wstring FServed, FPlainLog;
    std::unique_ptr<TLoopbackServer> FPlain, FSecure;
};

TEST_F(AlternativeFilesHostileServer, NothingButAWholeImageIsInstalledOverHTTP) {
    ExpectNothingReplaced(false, BrokenAnswers());
}

TEST_F(AlternativeFilesHostileServer, NothingButAWholeImageIsInstalledOverHTTPS) {
    std::vector<TCase> cases = BrokenAnswers();
    cases.push_back({"/hostile/redirect/" + std::to_string(FPlain->Port()) + "/files/",
                     ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR});
    ExpectNothingReplaced(true, cases);
    // Nothing was asked for over plain HTTP on the way.
    EXPECT_EQ(ReadWholeFile(FPlainLog).find("/files/"), std::string::npos);
}

// Servers that are no HTTP servers at all: one that accepts and never says a
// word (over TLS: a handshake that never starts), one whose listener never
// accepts (the connection is never made).
TEST_F(AlternativeFilesHostileServer, ServersThatNeverAnswerOrNeverAcceptAreLeftInTime) {
    TLoopbackServerOptions options;
    options.Mode = "silent";
    const TLoopbackServer silent(options);
    options.Mode = "unaccepted";
    const TLoopbackServer unaccepted(options);
    const auto at = [](const char* AScheme, const TLoopbackServer& AServer) {
        return std::string(AScheme) + "://127.0.0.1:" + std::to_string(AServer.Port()) + "/";
    };
    ExpectNothingReplaced(true, {{at("https", silent), ERROR_INTERNET_TIMEOUT, true},
                                 {at("http", silent), ERROR_INTERNET_TIMEOUT, true},
                                 {at("https", unaccepted), ERROR_INTERNET_TIMEOUT, true},
                                 {at("http", unaccepted), ERROR_INTERNET_TIMEOUT, true}});
}

} // namespace
