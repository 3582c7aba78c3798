#include "hook/IniFile.h"

#include <windows.h>

#include <system_error>

#include "platform/Handles.h"
#include "platform/WinText.h"

namespace {

[[noreturn]] void RaiseError(unsigned long AError, const std::wstring& AFileName) {
    throw std::system_error(static_cast<int>(AError), std::system_category(),
                            "INI file " + WideToUtf8(AFileName));
}

} // namespace

TIniFile::TIniFile(const std::wstring& AFileName) {
    const DWORD size =
        AFileName.empty() ? 0 : ::GetFullPathNameW(AFileName.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        FNameError = AFileName.empty() ? ERROR_INVALID_NAME : ::GetLastError();
        return;
    }
    FFileName.assign(size, L'\0');
    const DWORD length = ::GetFullPathNameW(AFileName.c_str(), size, FFileName.data(), nullptr);
    FFileName.resize(length < size ? length : 0);
    if (FFileName.empty())
        FNameError = ERROR_INVALID_NAME;
}

std::wstring TIniFile::ReadString(const std::wstring& ASection, const std::wstring& AKey,
                                  const std::wstring& ADefault) const {
    if (FFileName.empty())
        return ADefault;
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD length = ::GetPrivateProfileStringW(
            ASection.c_str(), AKey.c_str(), ADefault.c_str(), value.data(),
            static_cast<DWORD>(value.size()), FFileName.c_str());
        // A value that filled the buffer may have been cut short.
        if (length + 1 < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(value.size() * 2);
    }
}

void TIniFile::WriteString(const std::wstring& ASection, const std::wstring& AKey,
                           const std::wstring& AValue) {
    if (FFileName.empty())
        RaiseError(FNameError, FFileName);
    if (::GetFileAttributesW(FFileName.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // The profile functions keep the encoding a file starts with.
        const TFileHandle file(::CreateFileW(FFileName.c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file && ::GetLastError() != ERROR_FILE_EXISTS)
            RaiseError(::GetLastError(), FFileName);
        static const unsigned char ByteOrderMark[] = {0xFF, 0xFE};
        DWORD written = 0;
        if (file &&
            !::WriteFile(file.get(), ByteOrderMark, sizeof(ByteOrderMark), &written, nullptr))
            RaiseError(::GetLastError(), FFileName);
    }
    if (!::WritePrivateProfileStringW(ASection.c_str(), AKey.c_str(), AValue.c_str(),
                                      FFileName.c_str()))
        RaiseError(::GetLastError(), FFileName);
}
