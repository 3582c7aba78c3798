// The loader-list walk on any bytes, as the memory of a process whose
// environment block lies at their start, in both layouts: it never reads
// outside the bytes it was given through the reader, ends within its bound,
// a module it finds is one whose name it read, and reading in chunks changes
// nothing of what it finds.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "hook/LoaderList.h"
#include "tests/fuzz/FuzzRequire.h"

namespace {

constexpr uint64_t Base = 0x10000;

void Explore(const uint8_t* AData, size_t ASize, const TLoaderLayout& ALayout) {
    size_t reads = 0;
    const TMemoryReader memory = [&](uint64_t AAddress, void* ABuffer, size_t ARead) {
        ++reads;
        if (AAddress < Base || AAddress - Base > ASize || ARead > ASize - (AAddress - Base))
            return false;
        std::memcpy(ABuffer, AData + (AAddress - Base), ARead);
        return true;
    };
    for (const std::wstring_view name : {L"QVHook64.dll", L"a", L""}) {
        reads = 0;
        const TLoaderSearch found = FindLoadedModule(memory, ALayout, Base, name);
        Require(found.Entries <= MaxLoaderEntries);
        Require(reads <= 3 + found.Entries + found.NamesRead);
        Require(found.Module == 0 || (found.State == llsRead && found.NamesRead > 0));
        // Chunks hold the same bytes, so the walk through them ends the same.
        const TLoaderSearch chunked =
            FindLoadedModule(ChunkedReader(memory, 4096), ALayout, Base, name);
        Require(chunked.State == found.State && chunked.Module == found.Module &&
                chunked.Entries == found.Entries && chunked.NamesRead == found.NamesRead);
    }
    ProcessImageBase(memory, ALayout, Base);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    Explore(AData, ASize, LoaderLayout64);
    Explore(AData, ASize, LoaderLayout32);
    return 0;
}
