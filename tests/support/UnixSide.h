// The Unix side of Wine, for tests that need what only it has (a mount, a
// link the Unix file system makes): a shell command, and paths between the
// two sides. Drive Z: maps the Unix root.
#pragma once

#include <string>

// Starts "/bin/sh -c ACommand" (Wine starts a Unix program named by its Unix
// path); its end is seen in what it does, not waited for.
void StartUnixShell(std::wstring ACommand);
// The Windows path of a Unix one, through drive Z:.
std::wstring WindowsPathOfUnix(const std::wstring& AUnixPath);
// The Unix path of a Windows one, on any drive; empty outside Wine.
std::wstring UnixPathOf(const std::wstring& AWindowsPath);

// Makes ALink a symbolic link to the file ATarget: by the system
// (CreateSymbolicLinkW) where it makes one, else, under Wine, which answers
// success and makes none, on the Unix file system, where Wine follows it as
// any program there does. False when neither made a link.
bool MakeFileLink(const std::wstring& ALink, const std::wstring& ATarget);
