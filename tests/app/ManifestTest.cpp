// The manifest as the built executable carries it.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <set>
#include <string>
#include <utility>

#include "Automation.h"
#include "Handles.h"

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

} // namespace
