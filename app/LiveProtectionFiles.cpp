#include "LiveProtectionFiles.h"

#include "ProgramPath.h"

std::wstring LiveProtectionFilePath(size_t AIndex) {
    return ProgramFolder() + LiveProtectionFiles.at(AIndex);
}
