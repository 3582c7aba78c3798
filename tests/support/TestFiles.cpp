#include "tests/support/TestFiles.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "platform/Handles.h"
#include "platform/ProgramPath.h"

namespace {

void RemoveTree(const std::wstring& AFolder) {
    WIN32_FIND_DATAW entry;
    const TFindHandle search(::FindFirstFileW((AFolder + L"*").c_str(), &entry));
    for (BOOL more = static_cast<bool>(search); more;
         more = ::FindNextFileW(search.get(), &entry)) {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = AFolder + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path + L"\\");
        } else {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
    }
    ::RemoveDirectoryW(AFolder.c_str());
}

} // namespace

TScratchFolder::TScratchFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    FPath = std::wstring(temp) + L"derodo-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++) + L"\\";
    RemoveTree(FPath);
    if (!::CreateDirectoryW(FPath.c_str(), nullptr))
        throw std::runtime_error("cannot create the scratch folder");
}

TScratchFolder::~TScratchFolder() {
    RemoveTree(FPath);
}

std::wstring TScratchFolder::Write(const std::wstring& AName, std::string_view AContent) const {
    const std::wstring path = FPath + AName;
    WriteWholeFile(path, AContent);
    return path;
}

std::wstring TScratchFolder::Copy(const std::wstring& AFrom, const std::wstring& AName) const {
    const std::wstring path = FPath + AName;
    if (!::CopyFileW(AFrom.c_str(), path.c_str(), FALSE))
        throw std::runtime_error("cannot copy into the scratch folder");
    return path;
}

std::wstring TScratchFolder::CopyFixture(const std::wstring& AFixture,
                                         const std::wstring& AName) const {
    return Copy(FixturePath(AFixture), AName);
}

std::wstring FixturePath(const std::wstring& ARelative) {
    return ProgramFolder() + ARelative;
}

bool Exists(const std::wstring& APath) {
    return ::GetFileAttributesW(APath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWholeFile(const std::wstring& APath) {
    TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string content;
    if (!file)
        return content;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        content.append(buffer, read);
    return content;
}

void WriteWholeFile(const std::wstring& APath, std::string_view AContent) {
    TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file ||
        !::WriteFile(file.get(), AContent.data(), static_cast<DWORD>(AContent.size()), &written,
                     nullptr) ||
        written != AContent.size())
        throw std::runtime_error("cannot write a test file");
}

TMappedView MapAsImage(const std::wstring& APath) {
    const TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const TKernelHandle section(
        file ? ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr)
             : nullptr);
    return TMappedView(section ? ::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
}
