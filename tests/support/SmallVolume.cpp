#include "tests/support/SmallVolume.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "platform/Handles.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UnixSide.h"

namespace {

template <typename Predicate> void WaitUntil(Predicate APredicate) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!APredicate() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

} // namespace

TSmallVolume::TSmallVolume(const std::wstring& AName, const std::wstring& ASize)
    : FUnixFolder(L"/tmp/" + AName + L"-" + std::to_wstring(::GetCurrentProcessId())) {
    // A system that lets us mount nothing says so beside the folder.
    StartUnixShell(L"mkdir -p " + FUnixFolder + L" && (mount -t tmpfs -o size=" + ASize +
                   L" tmpfs " + FUnixFolder + L" && touch " + FUnixFolder + L"/mounted || touch " +
                   FUnixFolder + L".refused)");
    WaitUntil([&] { return Mounted() || Refused(); });
}

TSmallVolume::~TSmallVolume() {
    if (Refused()) {
        StartUnixShell(L"rmdir " + FUnixFolder + L"; rm -f " + FUnixFolder + L".refused");
        return;
    }
    StartUnixShell(L"umount -l " + FUnixFolder + L" && rmdir " + FUnixFolder);
    WaitUntil([&] { return !Mounted(); });
}

bool TSmallVolume::Mounted() const {
    return Exists(Folder() + L"mounted");
}

bool TSmallVolume::Refused() const {
    return Exists(WindowsPathOfUnix(FUnixFolder + L".refused"));
}

std::wstring TSmallVolume::Folder() const {
    return WindowsPathOfUnix(FUnixFolder + L"/");
}

void TSmallVolume::Fill(const std::wstring& AName) const {
    TFileHandle file(::CreateFileW((Folder() + AName).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string block(4096, 'f');
    DWORD written = 1;
    while (file && written > 0 &&
           ::WriteFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &written,
                       nullptr)) {
    }
}
