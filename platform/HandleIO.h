// Whole byte runs through an open handle (a file, a pipe, a device): every
// byte written, or everything read until the other end is done, in as many
// calls as it takes. Both answer 0 or the system's error code of the call
// that failed.
#pragma once

#include <string>
#include <string_view>

// Writes all of ABytes to AHandle. A write that stores nothing counts as a
// full disk, so that a volume that takes no more bytes ends the loop.
unsigned long WriteAll(void* AHandle, std::string_view ABytes);

// Appends to AData everything AHandle gives until its end: the end of a
// file, or a pipe whose writers' last end is closed. On an error AData holds
// what was read before it.
unsigned long ReadAll(void* AHandle, std::string& AData);
