#include "hook/LoaderList.h"

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/WinText.h"

namespace {

// The larger of the two layouts' entry reads.
constexpr size_t MaxEntryRead = 0x68;

// A little-endian value of ASize bytes (4 or 8) at AData.
uint64_t Unsigned(const uint8_t* AData, size_t ASize) {
    uint64_t value = 0;
    for (size_t i = ASize; i-- > 0;)
        value = (value << 8) | AData[i];
    return value;
}

bool ReadPointer(const TMemoryReader& ARead, const TLoaderLayout& ALayout, uint64_t AAddress,
                 uint64_t& AValue) {
    std::array<uint8_t, 8> bytes{};
    if (!ARead(AAddress, bytes.data(), ALayout.PointerSize))
        return false;
    AValue = Unsigned(bytes.data(), ALayout.PointerSize);
    return true;
}

// The name as the process stores it: UTF-16 code units.
std::u16string Utf16Units(std::wstring_view AText) {
    std::u16string units;
    for (const wchar_t c : AText) {
        const auto code = static_cast<uint32_t>(c);
        if (code > 0xFFFF) {
            units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(code);
        }
    }
    return units;
}

std::wstring WideUnits(const std::u16string& AUnits) {
    return std::wstring(AUnits.begin(), AUnits.end());
}

constexpr uint64_t PageSize = 4096;

// The bytes read so far, each run at its address, and the runs that could
// not be read, which are not tried again.
struct TChunks {
    TMemoryReader Read;
    uint64_t ChunkSize;
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> Runs;
    std::unordered_set<uint64_t> Unreadable;

    bool FromRuns(uint64_t AAddress, void* ABuffer, size_t ASize) const {
        for (const auto& [start, bytes] : Runs) {
            if (AAddress >= start && AAddress - start <= bytes.size() &&
                ASize <= bytes.size() - (AAddress - start)) {
                std::memcpy(ABuffer, bytes.data() + (AAddress - start), ASize);
                return true;
            }
        }
        return false;
    }

    // The aligned run of that size around the bytes asked for, read and kept.
    bool ReadRun(uint64_t AAddress, size_t ASize, uint64_t AAlignment) {
        const uint64_t start = AAddress & ~(AAlignment - 1);
        // A run is known by its start and its size, which is its alignment.
        const uint64_t key = start | (AAlignment == PageSize ? 1 : 0);
        if (AAddress + ASize < AAddress || AAddress + ASize - start > AAlignment ||
            Unreadable.count(key) != 0)
            return false;
        std::vector<uint8_t> bytes(AAlignment);
        if (!Read(start, bytes.data(), bytes.size())) {
            Unreadable.insert(key);
            return false;
        }
        Runs.emplace_back(start, std::move(bytes));
        return true;
    }

    bool operator()(uint64_t AAddress, void* ABuffer, size_t ASize) {
        if (FromRuns(AAddress, ABuffer, ASize))
            return true;
        if ((ReadRun(AAddress, ASize, ChunkSize) || ReadRun(AAddress, ASize, PageSize)) &&
            FromRuns(AAddress, ABuffer, ASize))
            return true;
        return Read(AAddress, ABuffer, ASize);
    }
};

} // namespace

TLoaderSearch FindLoadedModule(const TMemoryReader& ARead, const TLoaderLayout& ALayout,
                               uint64_t APeb, std::wstring_view AFileName) {
    TLoaderSearch search;
    if (AFileName.empty()) {
        search.State = llsRead;
        return search;
    }
    const std::u16string wanted = Utf16Units(AFileName);
    const std::wstring wantedText = WideUnits(wanted);
    const size_t wantedBytes = wanted.size() * sizeof(char16_t);

    // Until the process's loader has run, its environment block has no loader
    // data, or the data's list is not linked yet. The block itself is there
    // as soon as the system gives its address: one that cannot be read then
    // never will be (a 32-bit process under qemu's user-mode emulation, whose
    // guest memory lies at an offset from the addresses it reports, answers
    // every read with ERROR_NOACCESS).
    uint64_t ldr = 0;
    uint64_t first = 0;
    search.State = llsNotSetUp;
    if (APeb == 0)
        return search;
    search.State = llsUnreadable;
    if (!ReadPointer(ARead, ALayout, APeb + ALayout.PebLdr, ldr))
        return search;
    search.State = llsNotSetUp;
    if (ldr == 0)
        return search;
    const uint64_t head = ldr + ALayout.LdrInLoadOrder;
    search.State = llsUnreadable;
    if (!ReadPointer(ARead, ALayout, head, first))
        return search;
    if (first == 0) {
        search.State = llsNotSetUp;
        return search;
    }

    const size_t pointer = ALayout.PointerSize;
    const size_t entrySize = ALayout.EntryBaseName + ALayout.NameBuffer + pointer;
    std::array<uint8_t, MaxEntryRead> entry{};
    if (entrySize > entry.size())
        return search;
    std::unordered_set<uint64_t> seen;
    std::u16string name;
    for (uint64_t at = first; at != head;) {
        // A link that is null, out of line or seen before is no list.
        if (search.Entries >= MaxLoaderEntries || at == 0 || at % pointer != 0 ||
            !seen.insert(at).second || !ARead(at, entry.data(), entrySize))
            return search;
        ++search.Entries;
        const uint8_t* baseName = entry.data() + ALayout.EntryBaseName;
        const uint64_t length = Unsigned(baseName, 2);
        if (length == wantedBytes) {
            name.assign(wanted.size(), u'\0');
            const uint64_t buffer = Unsigned(baseName + ALayout.NameBuffer, pointer);
            if (!ARead(buffer, name.data(), wantedBytes))
                return search;
            ++search.NamesRead;
            if (SameTextIgnoringCase(WideUnits(name), wantedText)) {
                search.State = llsRead;
                search.Module = Unsigned(entry.data() + ALayout.EntryDllBase, pointer);
                return search;
            }
        }
        at = Unsigned(entry.data(), pointer);
    }
    search.State = llsRead;
    return search;
}

TMemoryReader ChunkedReader(TMemoryReader ARead, size_t AChunkSize) {
    auto chunks = std::make_shared<TChunks>();
    chunks->Read = std::move(ARead);
    // Runs are aligned to their size: a power of two, a page at least.
    uint64_t size = AChunkSize < PageSize ? PageSize : AChunkSize;
    while ((size & (size - 1)) != 0)
        size &= size - 1;
    chunks->ChunkSize = size;
    return [chunks](uint64_t AAddress, void* ABuffer, size_t ASize) {
        return (*chunks)(AAddress, ABuffer, ASize);
    };
}

uint64_t ProcessImageBase(const TMemoryReader& ARead, const TLoaderLayout& ALayout, uint64_t APeb) {
    uint64_t base = 0;
    if (APeb == 0 || !ReadPointer(ARead, ALayout, APeb + ALayout.PebImageBase, base))
        return 0;
    return base;
}
