// One holder at a time for a piece of work on a folder, across the windows
// and processes of the machine: a named mutex per folder and purpose, taken
// without waiting and released on every path.
#pragma once

#include <string>
#include <string_view>

#include "platform/FolderLockName.h"
#include "platform/Handles.h"

class TFolderLock {
public:
    // Takes the lock of AFolder for APurpose (a name of letters and digits),
    // unless another holder has it. When the system makes no lock at all,
    // the work is not held up: the lock counts as taken.
    TFolderLock(const std::wstring& AFolder, std::wstring_view APurpose);
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // False while another holder has the lock.
    bool Taken() const { return FTaken; }

private:
    TKernelHandle FMutex;
    // Declared after the mutex: released before its handle is closed.
    TMutexOwnership FOwned;
    bool FTaken = false;
};
