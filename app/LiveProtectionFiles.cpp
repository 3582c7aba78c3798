#include "app/LiveProtectionFiles.h"

#include "platform/ProgramPath.h"

std::wstring LiveProtectionFilePath(size_t AIndex) {
    return ProgramFolder() + LiveProtectionFiles.at(AIndex);
}
