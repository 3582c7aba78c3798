// Files written whole or not at all: the bytes go into a temporary file
// beside the target, are flushed to the disk and the temporary file is then
// renamed over the target, so that a reader sees either the earlier file or
// the new one complete. A device (NUL, a pipe, the console) has no file to
// rename: it is written directly. A set of files is copied the same way, all
// of them or none.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Writes ABytes to APath. Answers 0, or the system's error code of the step
// that failed; then the temporary file is gone and whatever lay at APath lies
// there as before. For a device only a failed write is a failure.
unsigned long WriteWholeOrNothing(std::wstring_view APath, std::string_view ABytes);

// Copies the files AFiles, named relative to the folder AFrom, to the same
// names relative to the folder ATo, all of them or none. Each is copied whole
// under a temporary name beside its target and flushed to the disk; only when
// every one lies there whole does each take its name, a file there before
// leaving its name for one of its own first. The files that were there go
// once all are in place (one that cannot be deleted then, as a running
// program on Windows, at the next start of the system). ATo must exist; the
// folders below it that the files need are made.
//
// Answers 0, or the system's error code of the step that failed with AFailed
// the index of the file it failed on (a source that cannot be read, a target
// that is a folder or is held by another program, a full disk); then every
// file and folder the copy made is gone and every file that was there lies
// under its name as before.
unsigned long CopyWholeOrNothing(const std::wstring& AFrom, const std::vector<std::wstring>& AFiles,
                                 const std::wstring& ATo, std::size_t& AFailed);
