#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/AlternativeFiles.h"
#include "platform/Handles.h"
#include "tests/support/TestFiles.h"

namespace {

void WriteFile(const std::wstring& APath) {
    const TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
}

TEST(DeleteFileOrLink, AFile) {
    const TScratchFolder scratch;
    const std::wstring& folder = scratch.Path();
    WriteFile(folder + L"a.dll");
    EXPECT_TRUE(DeleteFileOrLink(folder + L"a.dll"));
    EXPECT_FALSE(Exists(folder + L"a.dll"));
}

TEST(DeleteFileOrLink, AMissingFileLeavesTheDeletionsError) {
    const TScratchFolder scratch;
    const std::wstring& folder = scratch.Path();
    ::SetLastError(0);
    EXPECT_FALSE(DeleteFileOrLink(folder + L"missing.dll"));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(DeleteFileOrLink, AFileInUseStaysAndTellsWhy) {
    const TScratchFolder scratch;
    const std::wstring& folder = scratch.Path();
    const std::wstring path = folder + L"locked.dll";
    WriteFile(path);
    TFileHandle locked(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(locked);
    EXPECT_FALSE(DeleteFileOrLink(path));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    locked.reset();
    EXPECT_TRUE(Exists(path));
}

TEST(DeleteFileOrLink, ALinkToAFolderGoesTheFolderStays) {
    const TScratchFolder scratch;
    const std::wstring& folder = scratch.Path();
    const std::wstring target = folder + L"target";
    ::CreateDirectoryW(target.c_str(), nullptr);
    WriteFile(target + L"\\kept.txt");
    const std::wstring link = folder + L"QVHook64.dll";
    ::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        // Wine 8 answers success but makes no link, and has no junctions either.
        GTEST_SKIP() << "this system makes no directory links";

    EXPECT_TRUE(DeleteFileOrLink(link));
    EXPECT_FALSE(Exists(link));
    EXPECT_TRUE(Exists(target + L"\\kept.txt"));

    // A real folder is neither a file nor a link: it stays.
    EXPECT_FALSE(DeleteFileOrLink(target));
    EXPECT_TRUE(Exists(target));
}

} // namespace
