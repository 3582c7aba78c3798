// Files written whole or not at all, and put in the place of others without
// ever being seen cut short.
//
// A file is written into a temporary file beside its target, flushed to the
// disk, and only then renamed to the target, so that a reader sees either the
// earlier file or the new one complete. A device (NUL, a pipe, the console)
// has no file to rename: it is written directly. A set of files is copied the
// same way, all of them or none.
//
// On a managed desktop other programs open every file as it appears:
// on-access scanners, indexers and backup agents hold it for a fraction of a
// second to a few seconds, without sharing or sharing reading only. Meanwhile
// an open of that file for writing or deleting, a rename or a copy of it fails
// with ERROR_SHARING_VIOLATION (or ERROR_ACCESS_DENIED, for a name whose
// deletion is pending). Every step below that such a hold can refuse is tried
// again after growing pauses, until the held-file wait has passed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Handles.h"

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

// How long a step waits for another program to let go of a file: longer than
// a scanner holds one, short enough that a file held for good fails alone.
inline constexpr uint32_t HeldFileWaitMs = 8000;
// The pauses between the tries grow from the first to the longest.
inline constexpr uint32_t HeldFileFirstPauseMs = 10;
inline constexpr uint32_t HeldFileLongestPauseMs = 250;

struct THeldFileWait {
    uint32_t LimitMs = HeldFileWaitMs;
    uint32_t FirstPauseMs = HeldFileFirstPauseMs;
    uint32_t LongestPauseMs = HeldFileLongestPauseMs;
    // How a pause is spent; none sleeps. A window's thread lets its messages
    // through meanwhile, so that the wait does not leave it unanswered.
    std::function<void(uint32_t APauseMs)> Pause;
};
// The wait every step applies; tests shorten it.
extern THeldFileWait HeldFileWait;

// Whether AError is what another program's open of a file answers to a step
// on that file: ERROR_SHARING_VIOLATION or ERROR_ACCESS_DENIED.
bool IsHeldFileError(unsigned long AError);

// Runs AStep until it succeeds, fails with an error another program's hold
// does not explain, or the held-file wait has passed. The thread's last
// error is then that of the last try.
bool RetryWhileHeld(const std::function<bool()>& AStep);

// CreateFileW of an existing file, tried again while another program holds
// it; an invalid handle with the thread's last error otherwise.
TFileHandle OpenUnheldFile(const std::wstring& APath, unsigned long AAccess, unsigned long AShare,
                           unsigned long AFlags = FILE_ATTRIBUTE_NORMAL);

// What is at a path: a file or a link in the place of one, nothing (not even
// the folder above it), or no answer. Only the first two are known: a name
// whose deletion is pending answers ERROR_ACCESS_DENIED on Windows, and a
// file there may be unreadable for many reasons; none of them makes it
// absent. After psUnknown the thread's last error says why. A plain folder
// is no file; a link to one is.
enum class TPathState { psAbsent, psPresent, psUnknown };
TPathState PathState(const std::wstring& APath);

// The name a file is made whole under before it takes the name APath.
std::wstring PartialPath(const std::wstring& APath);

// Creates APath (a partial file) with ABytes and puts them on the disk.
// Answers 0 or the system's error code; on failure nothing is left at APath.
unsigned long WriteFlushedFile(const std::wstring& APath, std::string_view ABytes);

// Copies ASource, with its attributes, to the partial file of ATarget and
// puts its bytes on the disk. On failure nothing is left and the thread's
// last error is the failed step's.
bool CopyToPartialFile(const std::wstring& ASource, const std::wstring& ATarget);

// Gives the complete partial file of ATarget its name, never over a file
// there. On failure the partial file is removed and the thread's last error
// says why.
bool MovePartialFileIntoPlace(const std::wstring& ATarget);

// Removes a file of our making that is not whole or no longer needed, also a
// read-only one; keeps the thread's last error.
void DiscardLeftoverFile(const std::wstring& APath);

// How putting the complete partial file of a path in the place of the file
// there ended. Where the old file stays, the thread's last error says why.
enum class TSwapOutcome {
    soSwapped,     // the new file has the name; the old one is gone, or goes once unheld
    soKept,        // another program held the old file past the wait, or it could not
                   // leave its name: nothing changed
    soReadOnly,    // the old file is read-only: someone protected it; nothing changed
    soUndeletable, // the old file cannot be deleted past the wait (loaded as an image):
                   // nothing changed
    soNotMoved,    // the new file did not take the name; the old one has it again
    soEmpty,       // the new file did not take the name, and nothing has it
};

// Puts the complete partial file of ATarget in the place of the file or link
// there, or at the empty path, and deletes the old one. The new file takes
// the hidden and system attributes of the old one. Where ATarget is a link
// to a file elsewhere, the name is replaced and the file it led to is
// neither written nor deleted.
TSwapOutcome SwapInPartialFile(const std::wstring& ATarget);

// Clears the old files that swaps of APath took out of its name and a kill
// kept from being deleted. One that another program still holds goes when it
// lets go, or at a later run.
void DiscardReplacedFiles(const std::wstring& APath);

// Reads the whole file at APath, once no other program holds it for writing,
// handing its bytes to AChunk piece by piece. Answers 0 or the system's error
// code of the step that failed.
unsigned long ReadUnheldFile(const std::wstring& APath,
                             const std::function<void(std::string_view)>& AChunk);
