#include "tests/support/RecordingHookLayer.h"

#include "platform/WinText.h"

bool TRecordingHookLayer::IsModuleLoaded(const std::string& AFileName) {
    FTrace.push_back(L"Module(" + Utf8ToWide(AFileName) + L")");
    return LoadedModules.count(AFileName) != 0;
}

bool TRecordingHookLayer::EnablePrivilege(const char* APrivilege) {
    FTrace.push_back(L"Privilege(" + Utf8ToWide(APrivilege) + L")");
    return RefusedPrivileges.count(APrivilege) == 0;
}

BOOL TRecordingHookLayer::Respond(const std::wstring&) {
    ::SetLastError(ErrorToLeave);
    return Answer;
}

BOOL TRecordingHookLayer::Call(const std::wstring& AName,
                               const std::vector<std::wstring>& AArguments) {
    std::wstring call = AName + L"(";
    const wchar_t* separator = L"";
    for (const std::wstring& argument : AArguments) {
        call += separator + argument;
        separator = L", ";
    }
    FTrace.push_back(call + L")");
    return Respond(AName);
}

std::vector<std::wstring> TRecordingHookLayer::Injection(LPCWSTR ADriverName, LPCWSTR ALibraryFile,
                                                         DWORD ATarget, BOOL AOtherProcesses,
                                                         LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                                                         const void* AReserved, DWORD ATimeout) {
    return {Text(ADriverName),  Text(ALibraryFile),
            Hex(ATarget),       std::to_wstring(AOtherProcesses),
            Text(AIncludeMask), Text(AExcludeMask),
            Pointer(AReserved), std::to_wstring(ATimeout)};
}

std::wstring TRecordingHookLayer::Text(LPCWSTR AText) {
    return AText ? L"\"" + std::wstring(AText) + L"\"" : L"null";
}

std::wstring TRecordingHookLayer::Hex(DWORD AValue) {
    wchar_t text[16];
    ::wsprintfW(text, L"0x%08X", AValue);
    return text;
}

std::wstring TRecordingHookLayer::Pointer(const void* AValue) {
    return AValue ? L"pointer" : L"null";
}
