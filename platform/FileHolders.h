// Which programs hold a file open, as far as the system can name them: the
// Restart Manager knows the processes that have a file open on Windows. Where
// it names none (it was not asked in time, the holder is a driver, or the
// system answers nothing, as Wine does), the holder stays unnamed.
#pragma once

#include <string>
#include <vector>

struct TFileHolder {
    unsigned long ProcessId = 0;
    // The program's name as the system shows it to users.
    std::wstring Name;
};

// The programs that hold APath open now; empty when the system names none.
std::vector<TFileHolder> FileHolders(const std::wstring& APath);
