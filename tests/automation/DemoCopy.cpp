#include "tests/automation/DemoCopy.h"

#include <windows.h>

#include "platform/ProgramPath.h"

namespace fs = std::filesystem;

TDemoCopy::TDemoCopy(const std::wstring& AName)
    : FFolder(fs::path(ProgramFolder()) /
              (AName + L"-" + std::to_wstring(::GetCurrentProcessId()))) {
    std::error_code ignored;
    fs::remove_all(FFolder, ignored);
    fs::copy(fs::path(ProgramFolder()) / DERODO_DEMO_FROM_BIN, FFolder,
             fs::copy_options::recursive);
}

TDemoCopy::~TDemoCopy() {
    std::error_code ignored;
    fs::remove_all(FFolder, ignored);
}

std::wstring TDemoCopy::Folder() const {
    return FFolder.wstring() + L"\\";
}

std::wstring TDemoCopy::File(const std::wstring& AName) const {
    return (FFolder / AName).wstring();
}

std::wstring TDemoCopy::AddProgram(const std::wstring& AName) const {
    fs::copy_file(fs::path(ProgramFolder()) / AName, FFolder / AName,
                  fs::copy_options::overwrite_existing);
    return File(AName);
}
