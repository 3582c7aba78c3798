// A copy of the demo installation folder of a test's own, so that end-to-end
// tests run the real tool beside the product's stand-ins without touching
// build/demo or each other.
#pragma once

#include <filesystem>
#include <string>

class TDemoCopy {
public:
    // Copies the demo folder to a fresh folder beside the test programs named
    // AName and the process id.
    explicit TDemoCopy(const std::wstring& AName);
    TDemoCopy(const TDemoCopy&) = delete;
    TDemoCopy& operator=(const TDemoCopy&) = delete;
    // Removes the copy, as far as nothing in it is still in use.
    ~TDemoCopy();

    // The copy's folder with its trailing "\".
    std::wstring Folder() const;
    std::wstring File(const std::wstring& AName) const;
    // Puts a copy of the test program AName (a build of the tool for the
    // tests) into the copy and gives its path; raises when it cannot.
    std::wstring AddProgram(const std::wstring& AName) const;

private:
    std::filesystem::path FFolder;
};
