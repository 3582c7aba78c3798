// The manifest as the built executable carries it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Handles.h"
#include "platform/WinText.h"
#include "tests/automation/Automation.h"
#include "tests/automation/DemoCopy.h"
#include "tests/support/TestFiles.h"

namespace {

std::string ReadManifest(const std::wstring& AProgram) {
    TModuleHandle module(::LoadLibraryExW(
        AProgram.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module)
        return {};
    HRSRC resource = ::FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    if (!resource)
        return {};
    HGLOBAL data = ::LoadResource(module.get(), resource);
    const auto* bytes = static_cast<const char*>(::LockResource(data));
    return std::string(bytes, ::SizeofResource(module.get(), resource));
}

// The window asks for administrator rights; the console twin, which only
// reads, runs with the rights of whoever starts it.
TEST(Manifest, RequestsItsLevelThemesAndCompatibilityUpTo81) {
    for (const auto& [program, level] : {std::pair{L"derodo.exe", "requireAdministrator"},
                                         std::pair{L"derodo.com", "asInvoker"}}) {
        SCOPED_TRACE(level);
        const std::string manifest = ReadManifest(TestProgramFolder() + program);
        ASSERT_FALSE(manifest.empty());

        EXPECT_TRUE(std::regex_search(
            manifest,
            std::regex(std::string(R"re(requestedExecutionLevel\s+level=")re") + level + "\"")));

        std::set<std::string> supported;
        const std::regex os(R"re(supportedOS\s+Id="(\{[0-9a-fA-F-]+\})")re");
        for (auto it = std::sregex_iterator(manifest.begin(), manifest.end(), os);
             it != std::sregex_iterator(); ++it)
            supported.insert((*it)[1]);
        EXPECT_EQ(supported, (std::set<std::string>{
                                 "{e2011457-1546-43c5-a5fe-008deee3d3f0}", // Vista
                                 "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
                                 "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
                                 "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
                             }));

        EXPECT_TRUE(std::regex_search(
            manifest,
            std::regex(
                R"re(name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0")re")));
    }
}

// The section names of an image. An executable keeps a name longer than
// eight characters in the string table after its symbols, as "/<offset>".
std::vector<std::string> SectionNames(const std::string& AImage) {
    std::vector<std::string> names;
    if (AImage.size() < sizeof(IMAGE_DOS_HEADER))
        return names;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(AImage.data());
    if (static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS) > AImage.size())
        return names;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(AImage.data() + dos->e_lfanew);
    const size_t strings = static_cast<size_t>(nt->FileHeader.PointerToSymbolTable) +
                           static_cast<size_t>(nt->FileHeader.NumberOfSymbols) * 18;
    const auto* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (reinterpret_cast<const char*>(section + 1) > AImage.data() + AImage.size())
            break;
        std::string name(reinterpret_cast<const char*>(section->Name),
                         strnlen(reinterpret_cast<const char*>(section->Name), 8));
        if (name.rfind('/', 0) == 0) {
            const size_t at = strings + std::strtoul(name.c_str() + 1, nullptr, 10);
            name = at < AImage.size() ? std::string(AImage.c_str() + at) : std::string();
        }
        names.push_back(name);
    }
    return names;
}

// The programs of the demo folder as they ship: without their debug
// information, with a link to the file that keeps it, a few MB.
TEST(Manifest, TheShippedProgramsAreStrippedAndLinkTheirDebugInformation) {
    TDemoCopy demo(L"shipped");
    for (const wchar_t* program : {L"derodo.exe", L"derodo.com"}) {
        SCOPED_TRACE(WideToUtf8(program));
        const std::string image = ReadWholeFile(demo.File(program));
        ASSERT_FALSE(image.empty());
        EXPECT_LT(image.size(), 8u << 20);
        const std::vector<std::string> names = SectionNames(image);
        EXPECT_NE(std::find(names.begin(), names.end(), ".gnu_debuglink"), names.end());
        for (const std::string& name : names)
            EXPECT_NE(name.rfind(".debug_", 0), 0u) << name;
    }
}

} // namespace
