#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hook/LoaderList.h"
#include "platform/WinText.h"

namespace {

// The memory of a process that was never run: an environment block, its
// loader data and one list entry per module, laid out as the layout says,
// each at an address of its own; a read succeeds only inside one block.
class TFakeProcess {
public:
    static constexpr uint64_t Peb = 0x10000;
    static constexpr uint64_t Ldr = 0x20000;
    static constexpr uint64_t ImageBase = 0x400000;

    TFakeProcess(const TLoaderLayout& ALayout, const std::vector<std::wstring>& ANames)
        : FLayout(ALayout) {
        Block(Peb, 0x40);
        Pointer(Peb + FLayout.PebLdr, Ldr);
        Pointer(Peb + FLayout.PebImageBase, ImageBase);
        Block(Ldr, 0x40);
        for (size_t i = 0; i < ANames.size(); ++i) {
            const uint64_t entry = Entry(i);
            Block(entry, EntrySize());
            Pointer(entry + FLayout.EntryDllBase, Base(i));
            const uint64_t name = 0x80000 + i * 0x200;
            std::vector<uint8_t> text;
            for (const wchar_t c : ANames[i]) {
                text.push_back(static_cast<uint8_t>(c & 0xFF));
                text.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
            }
            FBlocks[name] = text;
            const uint64_t nameString = entry + FLayout.EntryBaseName;
            Value(nameString, text.size(), 2);
            Value(nameString + 2, text.size() + 2, 2);
            Pointer(nameString + FLayout.NameBuffer, name);
        }
        // In load order, the last entry leading back to the head.
        Pointer(Head(), ANames.empty() ? Head() : Entry(0));
        for (size_t i = 0; i < ANames.size(); ++i)
            Link(i, i + 1 < ANames.size() ? Entry(i + 1) : Head());
    }

    uint64_t Head() const { return Ldr + FLayout.LdrInLoadOrder; }
    static uint64_t Entry(size_t AIndex) { return 0x30000 + AIndex * 0x100; }
    static uint64_t Base(size_t AIndex) { return 0x1000000 + AIndex * 0x10000; }
    uint64_t NameOf(size_t AIndex) const {
        return Unsigned(Entry(AIndex) + FLayout.EntryBaseName + FLayout.NameBuffer,
                        FLayout.PointerSize);
    }
    size_t EntrySize() const {
        return FLayout.EntryBaseName + FLayout.NameBuffer + FLayout.PointerSize;
    }

    void Link(size_t AIndex, uint64_t ANext) { Pointer(Entry(AIndex), ANext); }
    void Pointer(uint64_t AAddress, uint64_t AValue) {
        Value(AAddress, AValue, FLayout.PointerSize);
    }
    void Remove(uint64_t ABlock) { FBlocks.erase(ABlock); }

    TMemoryReader Reader() {
        return [this](uint64_t AAddress, void* ABuffer, size_t ASize) {
            ++Reads[AAddress];
            auto block = FBlocks.upper_bound(AAddress);
            if (block == FBlocks.begin())
                return false;
            --block;
            const uint64_t offset = AAddress - block->first;
            if (offset + ASize > block->second.size())
                return false;
            std::copy_n(block->second.data() + offset, ASize, static_cast<uint8_t*>(ABuffer));
            return true;
        };
    }

    std::map<uint64_t, int> Reads;

private:
    void Block(uint64_t AAddress, size_t ASize) { FBlocks[AAddress].assign(ASize, 0); }
    // Little-endian, into the block that holds the address.
    void Value(uint64_t AAddress, uint64_t AValue, size_t ASize) {
        auto block = --FBlocks.upper_bound(AAddress);
        for (size_t i = 0; i < ASize; ++i)
            block->second.at(AAddress - block->first + i) = static_cast<uint8_t>(AValue >> (8 * i));
    }
    uint64_t Unsigned(uint64_t AAddress, size_t ASize) const {
        auto block = --FBlocks.upper_bound(AAddress);
        uint64_t value = 0;
        for (size_t i = ASize; i-- > 0;)
            value = (value << 8) | block->second.at(AAddress - block->first + i);
        return value;
    }

    TLoaderLayout FLayout;
    std::map<uint64_t, std::vector<uint8_t>> FBlocks;
};

const std::vector<std::wstring> Modules = {L"app.exe", L"ntdll.dll", L"KERNEL32.DLL",
                                           L"kernelbase.dll", L"QVHook64.dll"};

struct TLayoutCase {
    const char* Name;
    TLoaderLayout Layout;
};

class LoaderList : public testing::TestWithParam<TLayoutCase> {
protected:
    const TLoaderLayout& Layout() const { return GetParam().Layout; }
};

TEST_P(LoaderList, FindsAModuleByItsFileNameReadingEachEntryOnce) {
    const struct {
        const wchar_t* Name;
        int Index; // -1: not there
        size_t Entries;
        size_t NamesRead; // only names of the same length are read
    } cases[] = {
        // KERNEL32.DLL has a name of the same length, the others not.
        {L"QVHook64.dll", 4, 5, 2},
        {L"qvhook64.DLL", 4, 5, 2},
        {L"kernel32.dll", 2, 3, 1},
        {L"ntdll.dll", 1, 2, 1},
        {L"app.exe", 0, 1, 1},
        {L"QVHook32.dll", -1, 5, 2},
        {L"QVHook64.dl", -1, 5, 0},
        {L"kernel32", -1, 5, 0},
    };
    for (const auto& c : cases) {
        TFakeProcess process(Layout(), Modules);
        const TLoaderSearch found =
            FindLoadedModule(process.Reader(), Layout(), TFakeProcess::Peb, c.Name);
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
        FindLoadedModule(empty.Reader(), Layout(), TFakeProcess::Peb, L"QVHook64.dll");
    EXPECT_EQ(none.State, llsRead);
    EXPECT_EQ(none.Module, 0u);
    EXPECT_EQ(none.Entries, 0u);

    TFakeProcess process(Layout(), Modules);
    const TLoaderSearch nameless =
        FindLoadedModule(process.Reader(), Layout(), TFakeProcess::Peb, L"");
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
        {"no environment block yet", [](TFakeProcess& P) { P.Remove(TFakeProcess::Peb); },
         llsNotSetUp},
        {"no loader data yet",
         [layout](TFakeProcess& P) { P.Pointer(TFakeProcess::Peb + layout.PebLdr, 0); },
         llsNotSetUp},
        {"a list head not linked yet", [](TFakeProcess& P) { P.Pointer(P.Head(), 0); },
         llsNotSetUp},
        {"loader data that cannot be read", [](TFakeProcess& P) { P.Remove(TFakeProcess::Ldr); },
         llsUnreadable},
        {"a loop that misses the head",
         [](TFakeProcess& P) { P.Link(3, TFakeProcess::Entry(1)); }, llsUnreadable},
        {"an entry linked to itself", [](TFakeProcess& P) { P.Link(0, TFakeProcess::Entry(0)); },
         llsUnreadable},
        {"a null link", [](TFakeProcess& P) { P.Link(1, 0); }, llsUnreadable},
        {"a link out of line",
         [](TFakeProcess& P) { P.Link(1, TFakeProcess::Entry(2) + 1); }, llsUnreadable},
        {"an entry that cannot be read",
         [](TFakeProcess& P) { P.Remove(TFakeProcess::Entry(3)); }, llsUnreadable},
        {"a name of the right length that cannot be read",
         [](TFakeProcess& P) { P.Remove(P.NameOf(4)); }, llsUnreadable},
    };
    for (const auto& c : cases) {
        TFakeProcess process(layout, Modules);
        c.Damage(process);
        const TLoaderSearch found =
            FindLoadedModule(process.Reader(), layout, TFakeProcess::Peb, L"QVHook64.dll");
        EXPECT_EQ(found.State, c.State) << c.Name;
        EXPECT_EQ(found.Module, 0u) << c.Name;
    }
    // Without its environment block's address there is nothing to read.
    TFakeProcess process(layout, Modules);
    EXPECT_EQ(FindLoadedModule(process.Reader(), layout, 0, L"QVHook64.dll").State, llsNotSetUp);
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
    EXPECT_EQ(ProcessImageBase(process.Reader(), Layout(), TFakeProcess::Peb),
              TFakeProcess::ImageBase);
    EXPECT_EQ(ProcessImageBase(process.Reader(), Layout(), 0), 0u);
    process.Remove(TFakeProcess::Peb);
    EXPECT_EQ(ProcessImageBase(process.Reader(), Layout(), TFakeProcess::Peb), 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LoaderList,
                         testing::Values(TLayoutCase{"Of64BitProcesses", LoaderLayout64},
                                         TLayoutCase{"Of32BitProcesses", LoaderLayout32}),
                         [](const testing::TestParamInfo<TLayoutCase>& AInfo) {
                             return std::string(AInfo.param.Name);
                         });

} // namespace
