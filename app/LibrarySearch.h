// Where the tool's libraries may come from. The tool runs with administrator
// rights and is started from wherever it was saved (a Downloads folder, a USB
// stick, a share): a library lying there under a system library's name must
// never be loaded.
#pragma once

// Limits the library search of the whole process to the system folder and
// takes the current folder out of it. The first line of the program entry:
// nothing may load a library before it. The tool's own files are loaded by
// full path and stay unaffected.
void RestrictLibrarySearchToSystemFolder();
