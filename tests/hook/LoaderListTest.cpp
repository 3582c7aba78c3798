#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hook/LoaderList.h"
#include "platform/WinText.h"

namespace {

// Memory that is committed in regions, each readable as a whole except for
// the holes punched into it; every read is counted by its address.
class TFakeMemory {
public:
    void Commit(uint64_t AAddress, size_t ASize) { FRegions[AAddress].assign(ASize, 0); }
    void Punch(uint64_t AAddress, uint64_t ASize) { FHoles.emplace_back(AAddress, ASize); }

    TMemoryReader Reader() {
        return [this](uint64_t AAddress, void* ABuffer, size_t ASize) {
            ++Reads[AAddress];
            for (const auto& [start, size] : FHoles) {
                if (AAddress < start + size && start < AAddress + ASize)
                    return false;
            }
            auto region = FRegions.upper_bound(AAddress);
            if (region == FRegions.begin())
                return false;
            --region;
            const uint64_t offset = AAddress - region->first;
            if (offset > region->second.size() || ASize > region->second.size() - offset)
                return false;
            std::copy_n(region->second.data() + offset, ASize, static_cast<uint8_t*>(ABuffer));
            return true;
        };
    }
    size_t ReadCount() const {
        size_t count = 0;
        for (const auto& [address, reads] : Reads)
            count += reads;
        return count;
    }

    // Little-endian, into the region that holds the address.
    void Value(uint64_t AAddress, uint64_t AValue, size_t ASize) {
        auto region = --FRegions.upper_bound(AAddress);
        for (size_t i = 0; i < ASize; ++i)
            region->second.at(AAddress - region->first + i) =
                static_cast<uint8_t>(AValue >> (8 * i));
    }
    uint64_t Unsigned(uint64_t AAddress, size_t ASize) const {
        auto region = --FRegions.upper_bound(AAddress);
        uint64_t value = 0;
        for (size_t i = ASize; i-- > 0;)
            value = (value << 8) | region->second.at(AAddress - region->first + i);
        return value;
    }

    std::map<uint64_t, int> Reads;

private:
    std::map<uint64_t, std::vector<uint8_t>> FRegions;
    std::vector<std::pair<uint64_t, uint64_t>> FHoles;
};

// The memory of a process that was never run: an environment block and the
// loader data, each in a page of its own, and a heap that holds one list
// entry per module and their names, laid out as the layout says.
class TFakeProcess : public TFakeMemory {
public:
    static constexpr uint64_t Peb = 0x10000;
    static constexpr uint64_t Ldr = 0x20000;
    static constexpr uint64_t ImageBase = 0x400000;

    TFakeProcess(const TLoaderLayout& ALayout, const std::vector<std::wstring>& ANames)
        : FLayout(ALayout) {
        Commit(Peb, 0x1000);
        Pointer(Peb + FLayout.PebLdr, Ldr);
        Pointer(Peb + FLayout.PebImageBase, ImageBase);
        Commit(Ldr, 0x1000);
        Commit(Entry(0), 0x70000);
        for (size_t i = 0; i < ANames.size(); ++i) {
            const uint64_t entry = Entry(i);
            Pointer(entry + FLayout.EntryDllBase, Base(i));
            const uint64_t name = NameOf(i);
            for (size_t c = 0; c < ANames[i].size(); ++c)
                Value(name + 2 * c, static_cast<uint16_t>(ANames[i][c]), 2);
            const uint64_t nameString = entry + FLayout.EntryBaseName;
            Value(nameString, 2 * ANames[i].size(), 2);
            Value(nameString + 2, 2 * ANames[i].size() + 2, 2);
            Pointer(nameString + FLayout.NameBuffer, name);
        }
        // In load order, the last entry leading back to the head.
        Pointer(Head(), ANames.empty() ? Head() : Entry(0));
        for (size_t i = 0; i < ANames.size(); ++i)
            Link(i, i + 1 < ANames.size() ? Entry(i + 1) : Head());
    }

    uint64_t Head() const { return Ldr + FLayout.LdrInLoadOrder; }
    static uint64_t Entry(size_t AIndex) { return 0x30000 + AIndex * 0x100; }
    static uint64_t NameOf(size_t AIndex) { return 0x80000 + AIndex * 0x100; }
    static uint64_t Base(size_t AIndex) { return 0x1000000 + AIndex * 0x10000; }
    size_t EntrySize() const {
        return FLayout.EntryBaseName + FLayout.NameBuffer + FLayout.PointerSize;
    }

    void Link(size_t AIndex, uint64_t ANext) { Pointer(Entry(AIndex), ANext); }
    void Pointer(uint64_t AAddress, uint64_t AValue) {
        Value(AAddress, AValue, FLayout.PointerSize);
    }

private:
    TLoaderLayout FLayout;
};

const std::vector<std::wstring> Modules = {L"app.exe", L"ntdll.dll", L"KERNEL32.DLL",
                                           L"kernelbase.dll", L"QVHook64.dll"};

// The walk reads the same through the process's memory directly and through
// chunks of it.
constexpr size_t Chunk = 64 * 1024;

struct TWalkCase {
    const char* Name;
    TLoaderLayout Layout;
    bool Chunked;
};

class LoaderList : public testing::TestWithParam<TWalkCase> {
protected:
    const TLoaderLayout& Layout() const { return GetParam().Layout; }
    TMemoryReader Reader(TFakeMemory& AMemory) const {
        return GetParam().Chunked ? ChunkedReader(AMemory.Reader(), Chunk) : AMemory.Reader();
    }
};

TEST_P(LoaderList, FindsAModuleByItsFileNameReadingEachEntryOnce) {
    const struct {
        const wchar_t* Name;
        int Index; // -1: not there
        size_t Entries;
        size_t NamesRead; // only names of the same length are read
    } cases[] = {
        // KERNEL32.DLL has a name of the same length, the others not.
        {L"QVHook64.dll", 4, 5, 2}, {L"qvhook64.DLL", 4, 5, 2}, {L"kernel32.dll", 2, 3, 1},
        {L"ntdll.dll", 1, 2, 1},    {L"app.exe", 0, 1, 1},      {L"QVHook32.dll", -1, 5, 2},
        {L"QVHook64.dl", -1, 5, 0}, {L"kernel32", -1, 5, 0},
    };
    for (const auto& c : cases) {
        TFakeProcess process(Layout(), Modules);
        const TLoaderSearch found =
            FindLoadedModule(Reader(process), Layout(), TFakeProcess::Peb, c.Name);
        const std::string name = WideToUtf8(c.Name);
        EXPECT_EQ(found.State, llsRead) << name;
        EXPECT_EQ(found.Module, c.Index < 0 ? 0 : TFakeProcess::Base(c.Index)) << name;
        EXPECT_EQ(found.Entries, c.Entries) << name;
        EXPECT_EQ(found.NamesRead, c.NamesRead) << name;
        for (size_t i = 0; i < Modules.size(); ++i)
            EXPECT_LE(process.Reads[TFakeProcess::Entry(i)], 1) << name << " entry " << i;
    }
}

TEST_P(LoaderList, AnEmptyListOrNameIsReadWithoutAModule) {
    TFakeProcess empty(Layout(), {});
    const TLoaderSearch none =
        FindLoadedModule(Reader(empty), Layout(), TFakeProcess::Peb, L"QVHook64.dll");
    EXPECT_EQ(none.State, llsRead);
    EXPECT_EQ(none.Module, 0u);
    EXPECT_EQ(none.Entries, 0u);

    TFakeProcess process(Layout(), Modules);
    const TLoaderSearch nameless =
        FindLoadedModule(Reader(process), Layout(), TFakeProcess::Peb, L"");
    EXPECT_EQ(nameless.State, llsRead);
    EXPECT_EQ(nameless.Module, 0u);
    EXPECT_TRUE(process.Reads.empty()) << "nothing to look for, nothing read";
}

// What a process that has only just started, a list being changed while it
// is read, and memory that holds anything at all make of the walk.
TEST_P(LoaderList, AListNotSetUpOrBrokenIsNeverTakenForAnAnswer) {
    using TDamage = std::function<void(TFakeProcess&)>;
    const TLoaderLayout layout = Layout();
    const struct {
        const char* Name;
        TDamage Damage;
        TLoaderListState State;
    } cases[] = {
        {"an environment block that cannot be read",
         [](TFakeProcess& P) { P.Punch(TFakeProcess::Peb, 0x1000); }, llsUnreadable},
        {"no loader data yet",
         [layout](TFakeProcess& P) { P.Pointer(TFakeProcess::Peb + layout.PebLdr, 0); },
         llsNotSetUp},
        {"a list head not linked yet", [](TFakeProcess& P) { P.Pointer(P.Head(), 0); },
         llsNotSetUp},
        {"loader data that cannot be read",
         [](TFakeProcess& P) { P.Punch(TFakeProcess::Ldr, 0x1000); }, llsUnreadable},
        {"a loop that misses the head", [](TFakeProcess& P) { P.Link(3, TFakeProcess::Entry(1)); },
         llsUnreadable},
        {"an entry linked to itself", [](TFakeProcess& P) { P.Link(0, TFakeProcess::Entry(0)); },
         llsUnreadable},
        {"a null link", [](TFakeProcess& P) { P.Link(1, 0); }, llsUnreadable},
        {"a link out of line", [](TFakeProcess& P) { P.Link(1, TFakeProcess::Entry(2) + 1); },
         llsUnreadable},
        {"an entry that cannot be read",
         [](TFakeProcess& P) { P.Punch(TFakeProcess::Entry(3) + 8, 8); }, llsUnreadable},
        {"a name of the right length that cannot be read",
         [](TFakeProcess& P) { P.Punch(TFakeProcess::NameOf(4), 2); }, llsUnreadable},
    };
    for (const auto& c : cases) {
        TFakeProcess process(layout, Modules);
        c.Damage(process);
        const TLoaderSearch found =
            FindLoadedModule(Reader(process), layout, TFakeProcess::Peb, L"QVHook64.dll");
        EXPECT_EQ(found.State, c.State) << c.Name;
        EXPECT_EQ(found.Module, 0u) << c.Name;
    }
    // Without its environment block's address there is nothing to read.
    TFakeProcess process(layout, Modules);
    EXPECT_EQ(FindLoadedModule(Reader(process), layout, 0, L"QVHook64.dll").State, llsNotSetUp);
}

TEST_P(LoaderList, AListThatNeverEndsIsGivenUpAfterItsBound) {
    // Every entry leads to a new one, never back to the head.
    const TLoaderLayout layout = Layout();
    size_t reads = 0;
    const TMemoryReader endless = [&](uint64_t AAddress, void* ABuffer, size_t ASize) {
        ++reads;
        std::fill_n(static_cast<uint8_t*>(ABuffer), ASize, 0);
        uint64_t next = AAddress + 0x100;
        if (AAddress == TFakeProcess::Peb + layout.PebLdr)
            next = TFakeProcess::Ldr;
        std::copy_n(reinterpret_cast<const uint8_t*>(&next), std::min<size_t>(ASize, 4),
                    static_cast<uint8_t*>(ABuffer));
        return true;
    };
    const TLoaderSearch found = FindLoadedModule(endless, layout, TFakeProcess::Peb, L"x.dll");
    EXPECT_EQ(found.State, llsUnreadable);
    EXPECT_EQ(found.Entries, MaxLoaderEntries);
    EXPECT_LE(reads, MaxLoaderEntries + 3);
}

TEST_P(LoaderList, TheExecutablesBaseComesFromTheEnvironmentBlock) {
    TFakeProcess process(Layout(), Modules);
    EXPECT_EQ(ProcessImageBase(Reader(process), Layout(), TFakeProcess::Peb),
              TFakeProcess::ImageBase);
    EXPECT_EQ(ProcessImageBase(Reader(process), Layout(), 0), 0u);
    process.Punch(TFakeProcess::Peb, 0x1000);
    EXPECT_EQ(ProcessImageBase(Reader(process), Layout(), TFakeProcess::Peb), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Walks, LoaderList,
    testing::Values(TWalkCase{"Of64BitProcesses", LoaderLayout64, false},
                    TWalkCase{"Of32BitProcesses", LoaderLayout32, false},
                    TWalkCase{"Of64BitProcessesInChunks", LoaderLayout64, true},
                    TWalkCase{"Of32BitProcessesInChunks", LoaderLayout32, true}),
    [](const testing::TestParamInfo<TWalkCase>& AInfo) { return std::string(AInfo.param.Name); });

// A hundred entries and their names lie in two chunks of the heap.
TEST(LoaderListInChunks, AHundredModulesTakeAFewReads) {
    std::vector<std::wstring> names;
    for (int i = 0; i < 100; ++i)
        names.push_back(L"module" + std::to_wstring(1000 + i) + L".dll");
    TFakeProcess direct(LoaderLayout64, names);
    const TLoaderSearch one =
        FindLoadedModule(direct.Reader(), LoaderLayout64, TFakeProcess::Peb, L"module1099.dll");
    TFakeProcess chunked(LoaderLayout64, names);
    const TLoaderSearch other =
        FindLoadedModule(ChunkedReader(chunked.Reader(), Chunk), LoaderLayout64, TFakeProcess::Peb,
                         L"module1099.dll");
    EXPECT_EQ(one.Module, TFakeProcess::Base(99));
    EXPECT_EQ(other.Module, TFakeProcess::Base(99));
    EXPECT_EQ(direct.ReadCount(), 2u + 100u + 100u) << "each entry and each name";
    // The environment block and the loader data each a page (their chunks
    // reach uncommitted memory), the entries one chunk, the names another.
    EXPECT_EQ(chunked.ReadCount(), 6u);
}

TEST(LoaderListInChunks, ReadsNoMoreThanTheMemoryHolds) {
    // Committed: 0x10000 to 0x30000; a hole of 8 bytes at 0x12000.
    const struct {
        const char* Name;
        uint64_t Address;
        size_t Size;
        bool Read;
        size_t Reads; // underlying reads it takes, after the one before it
    } steps[] = {
        {"a chunk read whole", 0x20100, 8, true, 1},
        {"the same chunk again", 0x2FFF8, 8, true, 0},
        {"a chunk with a hole: its page", 0x10100, 8, true, 2},
        {"the hole's own page: the bytes alone", 0x12100, 8, true, 2},
        {"the same again: the bytes alone at once", 0x12200, 8, true, 1},
        {"across two chunks: the bytes alone", 0x1FFFC, 8, true, 1},
        {"past the end", 0x2FFFC, 8, false, 1},
        {"uncommitted", 0x40000, 8, false, 3},
        {"inside the hole", 0x12004, 2, false, 1},
    };
    TFakeMemory memory;
    memory.Commit(0x10000, 0x20000);
    memory.Punch(0x12000, 8);
    const TMemoryReader read = ChunkedReader(memory.Reader(), Chunk);
    size_t before = 0;
    for (const auto& step : steps) {
        uint8_t bytes[8] = {};
        EXPECT_EQ(read(step.Address, bytes, step.Size), step.Read) << step.Name;
        EXPECT_EQ(memory.ReadCount() - before, step.Reads) << step.Name;
        before = memory.ReadCount();
    }
}

} // namespace
