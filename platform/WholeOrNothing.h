// A file written whole or not at all: the bytes go into a temporary file
// beside the target, are flushed to the disk and the temporary file is then
// renamed over the target, so that a reader sees either the earlier file or
// the new one complete. A device (NUL, a pipe, the console) has no file to
// rename: it is written directly.
#pragma once

#include <string_view>

// Writes ABytes to APath. Answers 0, or the system's error code of the step
// that failed; then the temporary file is gone and whatever lay at APath lies
// there as before. For a device only a failed write is a failure.
unsigned long WriteWholeOrNothing(std::wstring_view APath, std::string_view ABytes);
