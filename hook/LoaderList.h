// The loader's list of a process's modules, read from the process's memory:
// the process environment block leads to the loader data, whose in-load-order
// list links one entry per module, each with the module's base and its file
// name. The bytes come from another process, which may be changing the list
// while it is read or may hold anything at all: every address is checked
// before it is followed, every entry is read once, and the walk is bounded.
// Free of platform headers; the layouts of both pointer widths are described
// here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

// Reads ASize bytes at AAddress of the process into ABuffer; false unless
// every one of them could be read.
using TMemoryReader = std::function<bool(uint64_t AAddress, void* ABuffer, size_t ASize)>;

// Where the walk finds what it needs, for one pointer width.
struct TLoaderLayout {
    uint32_t PointerSize;
    uint32_t PebImageBase;   // PEB: the executable's base
    uint32_t PebLdr;         // PEB: the loader data (PEB_LDR_DATA)
    uint32_t LdrInLoadOrder; // loader data: the list head (LIST_ENTRY)
    uint32_t EntryDllBase;   // entry (LDR_DATA_TABLE_ENTRY): the module's base
    uint32_t EntryBaseName;  // entry: the file name (UNICODE_STRING)
    uint32_t NameBuffer;     // UNICODE_STRING: its buffer, after the two lengths
};

// 64-bit processes; and 32-bit ones, also the 32-bit side of a WOW64 process.
inline constexpr TLoaderLayout LoaderLayout64{8, 0x10, 0x18, 0x10, 0x30, 0x58, 8};
inline constexpr TLoaderLayout LoaderLayout32{4, 0x08, 0x0C, 0x0C, 0x18, 0x2C, 4};

// More entries than any process holds: a list this long is broken.
inline constexpr size_t MaxLoaderEntries = 8192;

enum TLoaderListState {
    llsRead,       // walked to the module, or through the whole list
    llsNotSetUp,   // no loader data yet: the process has only just started
    llsUnreadable, // a read failed, the environment block's first, or the list
                   // is broken (a loop, a bad link): asking again changes nothing
};

struct TLoaderSearch {
    TLoaderListState State = llsUnreadable;
    // The base of the module of that file name; 0 when it is not there.
    uint64_t Module = 0;
    // Entries read, and names read because their length matched.
    size_t Entries = 0;
    size_t NamesRead = 0;
};

// Walks the list of the process whose environment block lies at APeb, from
// its start, until the module whose file name equals AFileName, letter case
// aside. Each entry is one read (its links, its base and its name's length
// and address); a name's characters are read only where its length matches.
TLoaderSearch FindLoadedModule(const TMemoryReader& ARead, const TLoaderLayout& ALayout,
                               uint64_t APeb, std::wstring_view AFileName);

// A reader that answers from aligned chunks of AChunkSize bytes (a power of
// two, a page or more) read whole from ARead and kept: the loader's entries
// and their names lie close together in the process's heap, and reading
// another process's memory costs about the same for a chunk as for a few
// bytes (under Wine each read stops the process and starts it again). A
// chunk that cannot be read whole (it reaches memory that is not committed)
// gives way to its page, and that to the bytes asked for alone.
TMemoryReader ChunkedReader(TMemoryReader ARead, size_t AChunkSize);

// The base of the process's executable, as its environment block holds it; 0
// when it cannot be read.
uint64_t ProcessImageBase(const TMemoryReader& ARead, const TLoaderLayout& ALayout, uint64_t APeb);
