// A set of files copied whole, all of them or none, on the real file system:
// what lies in the target folder afterwards, after a copy that went through
// and after one that failed at each of its steps.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/Handles.h"
#include "platform/WholeOrNothing.h"
#include "tests/support/TestFiles.h"

namespace {

// Every file and folder below AFolder, by its relative name, with each
// file's content.
std::set<std::wstring> Listing(const std::wstring& AFolder) {
    namespace fs = std::filesystem;
    std::set<std::wstring> entries;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(AFolder)) {
        const std::wstring relative = fs::relative(entry.path(), AFolder).wstring();
        if (entry.is_directory()) {
            entries.insert(relative + L"\\");
            continue;
        }
        const std::string content = ReadWholeFile(entry.path().wstring());
        entries.insert(relative + L" = " + std::wstring(content.begin(), content.end()));
    }
    return entries;
}

class CopyWholeOrNothingTest : public testing::Test {
protected:
    void SetUp() override {
        FFrom.Write(L"tool.exe", "new program");
        FFrom.Write(L"tool.com", "new twin");
        ASSERT_TRUE(::CreateDirectoryW((FFrom.Path() + L"locale").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((FFrom.Path() + L"locale\\de").c_str(), nullptr));
        FFrom.Write(L"locale\\de\\default.mo", "catalog");
        FFrom.Write(L"stray.txt", "not copied");
        // What the target folder held before.
        FTo.Write(L"tool.exe", "older program");
        FTo.Write(L"product.dll", "product");
    }

    unsigned long Copy() { return CopyWholeOrNothing(FFrom.Path(), FFiles, FTo.Path(), FFailed); }

    TScratchFolder FFrom;
    TScratchFolder FTo;
    const std::vector<std::wstring> FFiles = {L"tool.exe", L"tool.com", L"locale\\de\\default.mo"};
    size_t FFailed = 99;
};

TEST_F(CopyWholeOrNothingTest, EveryFileTakesItsNameAndWhatWasThereBeforeGoes) {
    ASSERT_EQ(::SetFileAttributesW((FTo.Path() + L"tool.exe").c_str(), FILE_ATTRIBUTE_READONLY),
              TRUE);
    ASSERT_EQ(Copy(), 0u);
    EXPECT_EQ(Listing(FTo.Path()),
              (std::set<std::wstring>{
                  L"tool.exe = new program", L"tool.com = new twin", L"locale\\", L"locale\\de\\",
                  L"locale\\de\\default.mo = catalog", L"product.dll = product"}));
    EXPECT_EQ(FFailed, 99u) << "untouched after a copy that went through";

    // Again, over the files of the first copy.
    ASSERT_EQ(Copy(), 0u);
    EXPECT_EQ(Listing(FTo.Path()).size(), 6u);
}

TEST_F(CopyWholeOrNothingTest, AFailureAtAnyStepLeavesTheFolderAsItWas) {
    struct TCase {
        const char* Name;
        std::wstring Held; // a file another program holds without sharing meanwhile
        unsigned long Error;
        size_t Failed;
    };
    const TCase cases[] = {
        {"a source that cannot be read, after two files", FFrom.Path() + L"locale\\de\\default.mo",
         ERROR_SHARING_VIOLATION, 2},
        {"a file there that cannot leave its name, after one was placed", FTo.Path() + L"tool.com",
         ERROR_SHARING_VIOLATION, 1},
    };
    for (const TCase& row : cases) {
        SCOPED_TRACE(row.Name);
        if (row.Held.starts_with(FTo.Path()))
            FTo.Write(L"tool.com", "older twin");
        const std::set<std::wstring> before = Listing(FTo.Path());
        {
            const TFileHandle held(::CreateFileW(row.Held.c_str(), GENERIC_READ, 0, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held);
            EXPECT_EQ(Copy(), row.Error);
            EXPECT_EQ(FFailed, row.Failed);
        }
        EXPECT_EQ(Listing(FTo.Path()), before) << "nothing half-copied, nothing lost";
    }
}

TEST_F(CopyWholeOrNothingTest, NeitherAMissingFolderNorAFolderInTheWayIsTakenForAFile) {
    const std::wstring gone = FTo.Path() + L"uninstalled";
    EXPECT_EQ(CopyWholeOrNothing(FFrom.Path(), FFiles, gone, FFailed),
              static_cast<unsigned long>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(FFailed, 0u);
    EXPECT_FALSE(Exists(gone)) << "the target folder is not made";

    ASSERT_TRUE(::CreateDirectoryW((FTo.Path() + L"tool.com").c_str(), nullptr));
    const std::set<std::wstring> before = Listing(FTo.Path());
    EXPECT_EQ(Copy(), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(FFailed, 1u);
    EXPECT_EQ(Listing(FTo.Path()), before);
}

} // namespace
