#include "platform/WholeOrNothing.h"

#include <windows.h>

#include <string>

#include "platform/HandleIO.h"
#include "platform/Handles.h"

namespace {

// The target as a device, if it is one: opened as a caller would write to it
// (a pipe's instance is taken by this open, so it is written through this
// handle and not opened twice).
TFileHandle OpenDevice(const std::wstring& APath) {
    TFileHandle target(::CreateFileW(APath.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (target && ::GetFileType(target.get()) == FILE_TYPE_DISK)
        target.reset();
    return target;
}

} // namespace

unsigned long WriteWholeOrNothing(std::wstring_view APath, std::string_view ABytes) {
    const std::wstring path(APath);
    if (const TFileHandle device = OpenDevice(path))
        return WriteAll(device.get(), ABytes);

    // Beside the target, so that the rename stays on its volume; named by
    // the process, so that two writers of one target do not meet.
    const std::wstring partial =
        path + L"." + std::to_wstring(::GetCurrentProcessId()) + L".partial";
    DWORD error = 0;
    {
        TFileHandle file(::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return ::GetLastError();
        error = WriteAll(file.get(), ABytes);
        if (error == 0 && !::FlushFileBuffers(file.get()))
            error = ::GetLastError();
    }
    if (error == 0 && !::MoveFileExW(partial.c_str(), path.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = ::GetLastError();
    if (error != 0)
        ::DeleteFileW(partial.c_str());
    return error;
}
