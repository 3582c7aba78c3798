#include "diagnostics/DebugLogger.h"

#include "platform/Handles.h"

#include <windows.h>

#include <cstdint>
#include <memory>

#include "platform/ProgramPath.h"
#include "platform/SystemMessage.h"
#include "platform/WinText.h"

namespace {

std::unique_ptr<TDebugLogger> GLogger;
bool GLoggerShutDown = false;
std::unique_ptr<THandlerData> GHandlerData;

template <typename T> void RemoveEveryOccurrence(std::vector<T>& AHandlers, T AHandler) {
    for (size_t index = AHandlers.size(); index-- > 0;) {
        if (AHandlers[index] == AHandler) {
            if (index != AHandlers.size() - 1)
                AHandlers[index] = AHandlers.back();
            AHandlers.pop_back();
        }
    }
}

std::wstring ObjectPrefix(const TDebugObject& AObject) {
    try {
        return AObject.DebugModuleName() + L"." + AObject.DebugText() + L".";
    } catch (...) {
        return L"(unknown)";
    }
}

} // namespace

// ---------------------------------------------------------------- values

bool TDebugValue::IsText() const {
    return std::holds_alternative<std::string>(FData) ||
           std::holds_alternative<std::wstring>(FData);
}

std::wstring TDebugValue::PlainText() const {
    if (const auto* value = std::get_if<long long>(&FData))
        return std::to_wstring(*value);
    if (const auto* value = std::get_if<unsigned long long>(&FData))
        return std::to_wstring(*value);
    if (const auto* value = std::get_if<bool>(&FData))
        return *value ? L"True" : L"False";
    if (const auto* value = std::get_if<std::string>(&FData))
        return AnsiToWide(*value);
    if (const auto* value = std::get_if<std::wstring>(&FData))
        return *value;
    return L"?";
}

std::wstring TDebugValue::Rendered() const {
    return IsText() ? L"'" + PlainText() + L"'" : PlainText();
}

std::wstring TDebugExceptionObject::DebugModuleName() const {
    if (const auto* object = dynamic_cast<const TDebugObject*>(&FException))
        return object->DebugModuleName();
    return L"std";
}

std::wstring TDebugExceptionObject::DebugText() const {
    return Utf8ToWide(FException.what());
}

// ---------------------------------------------------------------- handlers

void THandlerData::RegisterDebugLogLineHandler(TDebugLogLineHandler AHandler) {
    FLineHandlers.push_back(AHandler);
}

void THandlerData::RegisterDebugLogDataHandler(TDebugLogDataHandler AHandler) {
    FDataHandlers.push_back(AHandler);
}

bool THandlerData::IsRegisteredDebugLogLineHandler(TDebugLogLineHandler AHandler) const {
    for (TDebugLogLineHandler handler : FLineHandlers) {
        if (handler == AHandler)
            return true;
    }
    return false;
}

void THandlerData::RemoveDebugLogLineHandler(TDebugLogLineHandler AHandler) {
    RemoveEveryOccurrence(FLineHandlers, AHandler);
}

void THandlerData::RemoveDebugLogDataHandler(TDebugLogDataHandler AHandler) {
    RemoveEveryOccurrence(FDataHandlers, AHandler);
}

// By index, not by iterator: a handler that registers or removes handlers
// while it runs must not leave the loop on a stale iterator.
void THandlerData::SendDebugLogLineToHandlers(const std::wstring& ALine) const {
    for (size_t index = 0; index < FLineHandlers.size(); ++index) {
        const TDebugLogLineHandler handler = FLineHandlers[index];
        handler(ALine);
    }
}

void THandlerData::SendDebugLogDataToHandlers(TDebugLineKind AKind, TDebugScope AScope,
                                              const TDebugObject* AObject,
                                              const std::wstring& AText,
                                              const TDebugArguments& AArguments) const {
    for (size_t index = 0; index < FDataHandlers.size(); ++index) {
        const TDebugLogDataHandler handler = FDataHandlers[index];
        handler(AKind, AScope, AObject, AText, AArguments);
    }
}

THandlerData* DebugHandlerData() {
    if (!GHandlerData)
        GHandlerData = std::make_unique<THandlerData>();
    return GHandlerData.get();
}

// ---------------------------------------------------------------- line text

std::wstring DebugLineMark(TDebugLineKind AKind) {
    switch (AKind) {
    case dlkEnter:
        return L">";
    case dlkLeave:
        return L"<";
    case dlkError:
        return L"!";
    case dlkMessage:
        return L"i";
    default:
        return L"?";
    }
}

std::wstring DebugScopeWord(TDebugScope AScope) {
    switch (AScope) {
    case dlsProcess:
        return L"process";
    case dlsThread:
        return L"thread";
    case dlsMethod:
        return L"method";
    case dlsUnitInitialization:
        return L"unit initialization";
    case dlsUnitFinalization:
        return L"unit finalization";
    default:
        return {};
    }
}

std::wstring DebugErrorText(unsigned long AErrorCode, const std::wstring& AErrorMessage,
                            const std::wstring& ASystemMessage) {
    const int32_t signedCode = static_cast<int32_t>(AErrorCode);
    return AErrorMessage + L" (error code " + std::to_wstring(signedCode) + L": " + ASystemMessage +
           L")";
}

std::wstring DebugLineText(const std::wstring& AModuleFileName, TDebugLineKind AKind,
                           TDebugScope AScope, const TDebugArguments& AArguments,
                           const std::wstring& AText, const TDebugObject* AObject) {
    std::wstring line = L"{" + AModuleFileName + L"} " + DebugLineMark(AKind) + L" ";
    if (AScope != dlsNone)
        line += L"[" + DebugScopeWord(AScope) + L"] ";
    if (AObject)
        line += ObjectPrefix(*AObject);
    line += AText;
    if (AArguments.empty())
        return line;
    if (AKind == dlkLeave && AArguments.size() == 1) {
        line += L" = " + AArguments.front().PlainText();
    } else if (AKind == dlkEnter || AKind == dlkLeave) {
        line += L"(";
        for (size_t index = 0; index < AArguments.size(); ++index) {
            if (index > 0)
                line += L", ";
            line += AArguments[index].Rendered();
        }
        line += L")";
    }
    return line;
}

// ---------------------------------------------------------------- logger

TDebugLogger::TDebugLogger()
    : FLogFilename(ProgramFileName() + L".log"),
      FModuleFileName(ExtractFileName(ProgramFileName())) {}

TDebugLevel TDebugLogger::DebugLevelInDebugMode() const {
    return Read(FDebugLevelInDebugMode);
}

void TDebugLogger::SetDebugLevelInDebugMode(TDebugLevel AValue) {
    Write(FDebugLevelInDebugMode, AValue);
}

TDebugLevel TDebugLogger::DebugLevelInReleaseMode() const {
    return Read(FDebugLevelInReleaseMode);
}

void TDebugLogger::SetDebugLevelInReleaseMode(TDebugLevel AValue) {
    Write(FDebugLevelInReleaseMode, AValue);
}

bool TDebugLogger::UseConsole() const {
    return Read(FUseConsole);
}

void TDebugLogger::SetUseConsole(bool AValue) {
    Write(FUseConsole, AValue);
}

bool TDebugLogger::UseDebugConsole() const {
    return Read(FUseDebugConsole);
}

void TDebugLogger::SetUseDebugConsole(bool AValue) {
    Write(FUseDebugConsole, AValue);
}

bool TDebugLogger::UseLogFile() const {
    return Read(FUseLogFile);
}

void TDebugLogger::SetUseLogFile(bool AValue) {
    Write(FUseLogFile, AValue);
}

bool TDebugLogger::UseEventLog() const {
    return Read(FUseEventLog);
}

void TDebugLogger::SetUseEventLog(bool AValue) {
    Write(FUseEventLog, AValue);
}

std::wstring TDebugLogger::LogFilename() const {
    return Read(FLogFilename);
}

void TDebugLogger::SetLogFilename(const std::wstring& AValue) {
    Write(FLogFilename, AValue);
}

TDebugLoggerSettings TDebugLogger::Settings() const {
    TReadLock lock(*this);
    return {FDebugLevelInDebugMode,
            FDebugLevelInReleaseMode,
            FUseConsole,
            FUseDebugConsole,
            FUseLogFile,
            FUseEventLog,
            FLogFilename,
            FProcessName};
}

void TDebugLogger::LogLine(TDebugLineKind AKind, TDebugScope AScope,
                           const TDebugArguments& AArguments, const std::wstring& AText,
                           const TDebugObject* AObject) {
    THandlerData* handlers = DebugHandlerData();
    handlers->SendDebugLogLineToHandlers(
        DebugLineText(FModuleFileName, AKind, AScope, AArguments, AText, AObject));
    handlers->SendDebugLogDataToHandlers(AKind, AScope, AObject, AText, AArguments);
}

// Logging must not disturb the thread's last error: a routine logs its failed
// call and then returns false, and its caller reads GetLastError afterwards.
// The lock, the message table and the handlers may all touch that value.
void TDebugLogger::Event(TDebugLineKind AKind, TDebugScope AScope, const std::wstring& AText,
                         const TDebugObject* AObject, const TDebugArguments& AArguments) {
    TLastErrorKeeper lastError;
    TWriteLock lock(*this);
    LogLine(AKind, AScope, AArguments, AText, AObject);
}

void TDebugLogger::FilteredEvent(TDebugLevel ALevel, TDebugLineKind AKind, TDebugScope AScope,
                                 const std::wstring& AText, const TDebugObject* AObject,
                                 const TDebugArguments& AArguments) {
    TLastErrorKeeper lastError;
    TWriteLock lock(*this);
    if (Passes(ALevel))
        LogLine(AKind, AScope, AArguments, AText, AObject);
}

void TDebugLogger::LogEnterProcess(const std::string& AProcessName) {
    LogEnterProcess(AnsiToWide(AProcessName));
}

void TDebugLogger::LogEnterProcess(const std::wstring& AProcessName) {
    TLastErrorKeeper lastError;
    TWriteLock lock(*this);
    FProcessName = AProcessName;
    LogLine(dlkEnter, dlsProcess, {}, AProcessName, nullptr);
}

void TDebugLogger::LogLeaveProcess(const std::string& AProcessName) {
    Event(dlkLeave, dlsProcess, AnsiToWide(AProcessName));
}

void TDebugLogger::LogLeaveProcess(const std::wstring& AProcessName) {
    Event(dlkLeave, dlsProcess, AProcessName);
}

void TDebugLogger::LogEnterThread(const std::wstring& AThreadName, TDebugLevel) {
    Event(dlkEnter, dlsThread, AThreadName);
}

void TDebugLogger::LogEnterThread(const TDebugObject* AThread, const std::wstring& AThreadName,
                                  TDebugLevel) {
    Event(dlkEnter, dlsThread, AThreadName, AThread);
}

void TDebugLogger::LogLeaveThread(const std::wstring& AThreadName, TDebugLevel) {
    Event(dlkLeave, dlsThread, AThreadName);
}

void TDebugLogger::LogLeaveThread(const TDebugObject* AThread, const std::wstring& AThreadName,
                                  TDebugLevel) {
    Event(dlkLeave, dlsThread, AThreadName, AThread);
}

void TDebugLogger::LogEnterMethod(const std::wstring& AMethodName, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkEnter, dlsMethod, AMethodName);
}

void TDebugLogger::LogEnterMethod(const TDebugObject* AObject, const std::wstring& AMethodName,
                                  TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkEnter, dlsMethod, AMethodName, AObject);
}

void TDebugLogger::LogEnterMethod(const std::wstring& AMethodName,
                                  const TDebugArguments& AArguments, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkEnter, dlsMethod, AMethodName, nullptr, AArguments);
}

void TDebugLogger::LogEnterMethod(const TDebugObject* AObject, const std::wstring& AMethodName,
                                  const TDebugArguments& AArguments, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkEnter, dlsMethod, AMethodName, AObject, AArguments);
}

void TDebugLogger::LogEnterMethod(const TDebugObject* AObject, const std::string& AMethodName,
                                  const TDebugArguments& AArguments, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkEnter, dlsMethod, AnsiToWide(AMethodName), AObject, AArguments);
}

void TDebugLogger::LogLeaveMethod(const std::wstring& AMethodName, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkLeave, dlsMethod, AMethodName);
}

void TDebugLogger::LogLeaveMethod(const TDebugObject* AObject, const std::wstring& AMethodName,
                                  TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkLeave, dlsMethod, AMethodName, AObject);
}

void TDebugLogger::LogLeaveMethod(const std::wstring& AMethodName,
                                  const TDebugArguments& AArguments, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkLeave, dlsMethod, AMethodName, nullptr, AArguments);
}

void TDebugLogger::LogLeaveMethod(const TDebugObject* AObject, const std::wstring& AMethodName,
                                  const TDebugArguments& AArguments, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkLeave, dlsMethod, AMethodName, AObject, AArguments);
}

void TDebugLogger::LogEnterUnitInitialization(const std::wstring& AUnitName) {
    Event(dlkEnter, dlsUnitInitialization, AUnitName);
}

void TDebugLogger::LogLeaveUnitInitialization(const std::wstring& AUnitName) {
    Event(dlkLeave, dlsUnitInitialization, AUnitName);
}

void TDebugLogger::LogEnterUnitFinalization(const std::wstring& AUnitName) {
    Event(dlkEnter, dlsUnitFinalization, AUnitName);
}

void TDebugLogger::LogLeaveUnitFinalization(const std::wstring& AUnitName) {
    Event(dlkLeave, dlsUnitFinalization, AUnitName);
}

void TDebugLogger::LogMessage(const std::string& AMessage, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkMessage, dlsNone, AnsiToWide(AMessage));
}

void TDebugLogger::LogMessage(const std::wstring& AMessage, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkMessage, dlsNone, AMessage);
}

void TDebugLogger::LogMessage(const TDebugObject* AObject, const std::string& AMessage,
                              TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkMessage, dlsNone, AnsiToWide(AMessage), AObject);
}

void TDebugLogger::LogMessage(const TDebugObject* AObject, const std::wstring& AMessage,
                              TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkMessage, dlsNone, AMessage, AObject);
}

void TDebugLogger::LogWarning(const std::wstring& AWarnText) {
    Event(dlkWarning, dlsNone, AWarnText);
}

void TDebugLogger::LogError(const std::string& AErrorMessage, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkError, dlsNone, AnsiToWide(AErrorMessage));
}

void TDebugLogger::LogError(const std::wstring& AErrorMessage, TDebugLevel ALevel) {
    FilteredEvent(ALevel, dlkError, dlsNone, AErrorMessage);
}

// The system's text is looked up only for a line that passes the level test.
void TDebugLogger::LogError(unsigned long AErrorCode, const std::wstring& AErrorMessage,
                            TDebugLevel ALevel) {
    TLastErrorKeeper lastError;
    TWriteLock lock(*this);
    if (Passes(ALevel))
        LogLine(dlkError, dlsNone, {},
                DebugErrorText(AErrorCode, AErrorMessage, SystemMessage(AErrorCode)), nullptr);
}

void TDebugLogger::LogException(const std::exception& AException, const std::wstring& AMessage,
                                TDebugLevel ALevel) {
    TLastErrorKeeper lastError;
    TWriteLock lock(*this);
    if (!Passes(ALevel))
        return;
    const TDebugExceptionObject object(AException);
    LogLine(dlkError, dlsNone, {}, AMessage + L": " + object.DebugText(), &object);
}

void TDebugLogger::LogVarString(const std::wstring&, const std::string&, TDebugLevel) {}
void TDebugLogger::LogVarString(const std::wstring&, const std::wstring&, TDebugLevel) {}
void TDebugLogger::LogVarBoolean(const std::wstring&, bool, TDebugLevel) {}
void TDebugLogger::LogVarCardinal(const std::wstring&, unsigned long, TDebugLevel) {}
void TDebugLogger::LogVarInteger(const std::wstring&, long, TDebugLevel) {}
void TDebugLogger::LogVarInt64(const std::wstring&, long long, TDebugLevel) {}
void TDebugLogger::LogVarUInt64(const std::wstring&, unsigned long long, TDebugLevel) {}
void TDebugLogger::LogVarStringList(const std::wstring&, const std::vector<std::wstring>&,
                                    TDebugLevel) {}

// ---------------------------------------------------------------- process-wide

TDebugLogger* DebugLogger() {
    if (GLoggerShutDown)
        return nullptr;
    if (!GLogger)
        GLogger = std::make_unique<TDebugLogger>();
    return GLogger.get();
}

TDebugLoggerSettings DebugLoggerSettings() {
    if (TDebugLogger* logger = DebugLogger())
        return logger->Settings();
    return {};
}

TDebugUnitTrace::TDebugUnitTrace(std::wstring AUnitName, TDebugScope AScope)
    : FUnitName(std::move(AUnitName)), FScope(AScope) {
    if (TDebugLogger* logger = DebugLogger()) {
        if (FScope == dlsUnitFinalization)
            logger->LogEnterUnitFinalization(FUnitName);
        else
            logger->LogEnterUnitInitialization(FUnitName);
    }
}

TDebugUnitTrace::~TDebugUnitTrace() {
    try {
        if (TDebugLogger* logger = DebugLogger()) {
            if (FScope == dlsUnitFinalization)
                logger->LogLeaveUnitFinalization(FUnitName);
            else
                logger->LogLeaveUnitInitialization(FUnitName);
        }
    } catch (...) {
        // A failing handler must not turn the end of a module's work into a
        // termination of the program.
    }
}

void DebugLoggerStartUp() {
    GLoggerShutDown = false;
    ::DeleteFileW((ProgramFileName() + L".log").c_str());
    DebugLogger()->SetUseLogFile(true);
}

void DebugLoggerShutDown() {
    GLoggerShutDown = true;
    std::unique_ptr<TDebugLogger> logger = std::move(GLogger);
    logger.reset();
    GHandlerData.reset();
}
