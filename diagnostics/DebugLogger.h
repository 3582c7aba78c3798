// The debug logger: the diagnostic channel of the library modules. Each event
// is tested against a threshold, rendered as one line and handed to the
// handlers registered in the process-wide handler registry. The logger writes
// nowhere itself; its output switches are settings kept for the handlers.
//
// Call sites reach the logger through DebugLogger(), which answers null once
// the logger has shut down:
//     if (TDebugLogger* logger = DebugLogger())
//         logger->LogError(::GetLastError(), L"Routine.FailedCall", dlvError);
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/MultiReadExclusiveWriteSynchronizer.h"

// Severity of an event. The order matters: the level test compares ordinals.
enum TDebugLevel {
    dlvDebug,
    dlvVerbose,
    dlvMessage,
    dlvWarning,
    dlvError,
    dlvFatal,
    dlvControl,
    dlvPopup,
    dlvDefault
};

// What a line reports; selects the line's mark (">", "<", "!", "i", "?").
enum TDebugLineKind { dlkEnter, dlkLeave, dlkError, dlkMessage, dlkWarning };

// What is entered or left; selects the scope word of the line.
enum TDebugScope {
    dlsNone,
    dlsProcess,
    dlsThread,
    dlsMethod,
    dlsUnitInitialization,
    dlsUnitFinalization
};

// An object a line is about. It names the module that declares its class and
// gives its text form; the line shows "<module>.<text>." before the event
// text. A class opts in by deriving from this interface. Exceptions need not:
// a std::exception is shown as "std.<message>." unless it derives from this
// interface too, in which case its own module name is used.
class TDebugObject {
public:
    virtual ~TDebugObject() = default;
    // The module that declares the object's class, e.g. L"Taurix.Debug".
    virtual std::wstring DebugModuleName() const = 0;
    // The object's text form; by convention its class name.
    virtual std::wstring DebugText() const = 0;
};

// The object of an exception line: the exception seen as a TDebugObject, so
// data handlers can reach it (dynamic_cast, then Exception()).
class TDebugExceptionObject : public TDebugObject {
public:
    explicit TDebugExceptionObject(const std::exception& AException) : FException(AException) {}
    const std::exception& Exception() const { return FException; }
    // "std", or the exception's own module name when it is a TDebugObject.
    std::wstring DebugModuleName() const override;
    // The exception's message (what(), read as UTF-8).
    std::wstring DebugText() const override;

private:
    const std::exception& FException;
};

// One value of a method trace's argument list. Integers, booleans and texts
// (8-bit texts are kept as given and converted through the ANSI code page when
// rendered) carry their value; every other kind (floating point, pointers)
// carries only the fact that it is some other kind and renders as "?".
class TDebugValue {
public:
    struct TOther {};
    using TData =
        std::variant<TOther, long long, unsigned long long, bool, std::string, std::wstring>;

    TDebugValue(int AValue) : FData(static_cast<long long>(AValue)) {}
    TDebugValue(long AValue) : FData(static_cast<long long>(AValue)) {}
    TDebugValue(long long AValue) : FData(AValue) {}
    TDebugValue(unsigned AValue) : FData(static_cast<unsigned long long>(AValue)) {}
    TDebugValue(unsigned long AValue) : FData(static_cast<unsigned long long>(AValue)) {}
    TDebugValue(unsigned long long AValue) : FData(AValue) {}
    TDebugValue(bool AValue) : FData(AValue) {}
    TDebugValue(const char* AValue) : FData(std::string(AValue ? AValue : "")) {}
    TDebugValue(const wchar_t* AValue) : FData(std::wstring(AValue ? AValue : L"")) {}
    TDebugValue(std::string AValue) : FData(std::move(AValue)) {}
    TDebugValue(std::wstring AValue) : FData(std::move(AValue)) {}
    TDebugValue(double) : FData(TOther{}) {}
    TDebugValue(const void*) : FData(TOther{}) {}

    const TData& Data() const { return FData; }
    bool IsText() const;
    // Inside an argument list: texts in single quotes (quotes inside are not
    // escaped), integers in decimal, booleans as True or False, else "?".
    std::wstring Rendered() const;
    // The same without quotes, for the one value of a leave trace.
    std::wstring PlainText() const;

private:
    TData FData;
};

using TDebugArguments = std::vector<TDebugValue>;

using TDebugLogLineHandler = void (*)(const std::wstring& ALine);
// The level is not passed; AObject may be null; AText is the event text
// before any prefix; AArguments is empty except on method traces.
using TDebugLogDataHandler = void (*)(TDebugLineKind AKind, TDebugScope AScope,
                                      const TDebugObject* AObject, const std::wstring& AText,
                                      const TDebugArguments& AArguments);

// The handler registry. It has no lock of its own: handlers are registered
// and removed while no other thread logs.
class THandlerData {
public:
    void RegisterDebugLogLineHandler(TDebugLogLineHandler AHandler);
    void RegisterDebugLogDataHandler(TDebugLogDataHandler AHandler);
    bool IsRegisteredDebugLogLineHandler(TDebugLogLineHandler AHandler) const;
    // Remove every registration of AHandler; the remaining handlers may be
    // reordered (the last one takes the place of a removed one).
    void RemoveDebugLogLineHandler(TDebugLogLineHandler AHandler);
    void RemoveDebugLogDataHandler(TDebugLogDataHandler AHandler);
    // Call the handlers from the first registered to the last.
    void SendDebugLogLineToHandlers(const std::wstring& ALine) const;
    void SendDebugLogDataToHandlers(TDebugLineKind AKind, TDebugScope AScope,
                                    const TDebugObject* AObject, const std::wstring& AText,
                                    const TDebugArguments& AArguments) const;

private:
    std::vector<TDebugLogLineHandler> FLineHandlers;
    std::vector<TDebugLogDataHandler> FDataHandlers;
};

// The process-wide registry, created on first use.
THandlerData* DebugHandlerData();

// The logger's settings as one record. A default record holds what a logger
// that no longer exists answers.
struct TDebugLoggerSettings {
    TDebugLevel DebugLevelInDebugMode = dlvError;
    TDebugLevel DebugLevelInReleaseMode = dlvError;
    bool UseConsole = false;
    bool UseDebugConsole = false;
    bool UseLogFile = false;
    bool UseEventLog = false;
    std::wstring LogFilename;
    std::wstring ProcessName;
};

// The logger is its own lock: every logging operation holds the write side
// from the level test until the last handler has returned, so handlers run
// one line at a time on the logging thread and may themselves log. Getters
// take the read side, setters the write side.
class TDebugLogger : public TMultiReadExclusiveWriteSynchronizer {
public:
    TDebugLogger();

    TDebugLevel DebugLevelInDebugMode() const;
    void SetDebugLevelInDebugMode(TDebugLevel AValue);
    // The threshold: events below it are dropped.
    TDebugLevel DebugLevelInReleaseMode() const;
    void SetDebugLevelInReleaseMode(TDebugLevel AValue);
    bool UseConsole() const;
    void SetUseConsole(bool AValue);
    bool UseDebugConsole() const;
    void SetUseDebugConsole(bool AValue);
    bool UseLogFile() const;
    void SetUseLogFile(bool AValue);
    bool UseEventLog() const;
    void SetUseEventLog(bool AValue);
    std::wstring LogFilename() const;
    void SetLogFilename(const std::wstring& AValue);
    // Set by LogEnterProcess only; read without the lock.
    const std::wstring& ProcessName() const { return FProcessName; }
    TDebugLoggerSettings Settings() const;

    // Process and thread lines are never filtered; the thread's level is not used.
    void LogEnterProcess(const std::string& AProcessName);
    void LogEnterProcess(const std::wstring& AProcessName);
    void LogLeaveProcess(const std::string& AProcessName);
    void LogLeaveProcess(const std::wstring& AProcessName);
    void LogEnterThread(const std::wstring& AThreadName, TDebugLevel ALevel);
    void LogEnterThread(const TDebugObject* AThread, const std::wstring& AThreadName,
                        TDebugLevel ALevel);
    void LogLeaveThread(const std::wstring& AThreadName, TDebugLevel ALevel);
    void LogLeaveThread(const TDebugObject* AThread, const std::wstring& AThreadName,
                        TDebugLevel ALevel);

    // Method traces. A leave trace with exactly one value shows it as the
    // result (" = value"); otherwise values follow the name in parentheses.
    void LogEnterMethod(const std::wstring& AMethodName, TDebugLevel ALevel);
    void LogEnterMethod(const TDebugObject* AObject, const std::wstring& AMethodName,
                        TDebugLevel ALevel);
    void LogEnterMethod(const std::wstring& AMethodName, const TDebugArguments& AArguments,
                        TDebugLevel ALevel);
    void LogEnterMethod(const TDebugObject* AObject, const std::wstring& AMethodName,
                        const TDebugArguments& AArguments, TDebugLevel ALevel);
    void LogEnterMethod(const TDebugObject* AObject, const std::string& AMethodName,
                        const TDebugArguments& AArguments, TDebugLevel ALevel);
    void LogLeaveMethod(const std::wstring& AMethodName, TDebugLevel ALevel);
    void LogLeaveMethod(const TDebugObject* AObject, const std::wstring& AMethodName,
                        TDebugLevel ALevel);
    void LogLeaveMethod(const std::wstring& AMethodName, const TDebugArguments& AArguments,
                        TDebugLevel ALevel);
    void LogLeaveMethod(const TDebugObject* AObject, const std::wstring& AMethodName,
                        const TDebugArguments& AArguments, TDebugLevel ALevel);

    // A module's start-up and shut-down work; never filtered.
    void LogEnterUnitInitialization(const std::wstring& AUnitName);
    void LogLeaveUnitInitialization(const std::wstring& AUnitName);
    void LogEnterUnitFinalization(const std::wstring& AUnitName);
    void LogLeaveUnitFinalization(const std::wstring& AUnitName);

    void LogMessage(const std::string& AMessage, TDebugLevel ALevel);
    void LogMessage(const std::wstring& AMessage, TDebugLevel ALevel);
    void LogMessage(const TDebugObject* AObject, const std::string& AMessage, TDebugLevel ALevel);
    void LogMessage(const TDebugObject* AObject, const std::wstring& AMessage, TDebugLevel ALevel);
    // Never filtered.
    void LogWarning(const std::wstring& AWarnText);
    void LogError(const std::string& AErrorMessage, TDebugLevel ALevel);
    void LogError(const std::wstring& AErrorMessage, TDebugLevel ALevel);
    // "<message> (error code <code as signed 32-bit>: <system's text>)".
    void LogError(unsigned long AErrorCode, const std::wstring& AErrorMessage, TDebugLevel ALevel);
    // "<message>: <exception's message>", about the exception as its object.
    void LogException(const std::exception& AException, const std::wstring& AMessage,
                      TDebugLevel ALevel);

    // Variable dumps are accepted and emit nothing.
    void LogVarString(const std::wstring& AName, const std::string& AVar, TDebugLevel ALevel);
    void LogVarString(const std::wstring& AName, const std::wstring& AVar, TDebugLevel ALevel);
    void LogVarBoolean(const std::wstring& AName, bool AVar, TDebugLevel ALevel);
    void LogVarCardinal(const std::wstring& AName, unsigned long AVar, TDebugLevel ALevel);
    void LogVarInteger(const std::wstring& AName, long AVar, TDebugLevel ALevel);
    void LogVarInt64(const std::wstring& AName, long long AVar, TDebugLevel ALevel);
    void LogVarUInt64(const std::wstring& AName, unsigned long long AVar, TDebugLevel ALevel);
    void LogVarStringList(const std::wstring& AName, const std::vector<std::wstring>& AVar,
                          TDebugLevel ALevel);

private:
    // Renders one line and hands it, then its parts, to the handlers. Runs
    // with the write side held.
    void LogLine(TDebugLineKind AKind, TDebugScope AScope, const TDebugArguments& AArguments,
                 const std::wstring& AText, const TDebugObject* AObject);
    // Properties: read under the read side, written under the write side.
    template <typename T> T Read(const T& AField) const {
        TReadLock lock(*this);
        return AField;
    }
    template <typename T> void Write(T& AField, const T& AValue) {
        TWriteLock lock(*this);
        AField = AValue;
    }
    bool Passes(TDebugLevel ALevel) const { return ALevel >= FDebugLevelInReleaseMode; }
    void Event(TDebugLineKind AKind, TDebugScope AScope, const std::wstring& AText,
               const TDebugObject* AObject = nullptr, const TDebugArguments& AArguments = {});
    void FilteredEvent(TDebugLevel ALevel, TDebugLineKind AKind, TDebugScope AScope,
                       const std::wstring& AText, const TDebugObject* AObject = nullptr,
                       const TDebugArguments& AArguments = {});

    TDebugLevel FDebugLevelInDebugMode = dlvMessage;
    TDebugLevel FDebugLevelInReleaseMode = dlvError;
    bool FUseConsole = false;
    bool FUseDebugConsole = false;
    bool FUseLogFile = false;
    bool FUseEventLog = true;
    std::wstring FLogFilename;
    std::wstring FProcessName;
    std::wstring FModuleFileName; // "{name}" at the start of every line
};

// The process-wide logger, created on first use; null after shut-down.
TDebugLogger* DebugLogger();
// The settings of the process-wide logger, or the fallback values once it has shut down.
TDebugLoggerSettings DebugLoggerSettings();

// The logger's text parts, pure.
std::wstring DebugLineMark(TDebugLineKind AKind);
std::wstring DebugScopeWord(TDebugScope AScope);
std::wstring DebugErrorText(unsigned long AErrorCode, const std::wstring& AErrorMessage,
                            const std::wstring& ASystemMessage);
std::wstring DebugLineText(const std::wstring& AModuleFileName, TDebugLineKind AKind,
                           TDebugScope AScope, const TDebugArguments& AArguments,
                           const std::wstring& AText, const TDebugObject* AObject);

// Brackets a module's start-up or shut-down work (AScope dlsUnitInitialization
// or dlsUnitFinalization) with its enter and leave lines; the leave line is
// written also when the work raises.
class TDebugUnitTrace {
public:
    TDebugUnitTrace(std::wstring AUnitName, TDebugScope AScope);
    TDebugUnitTrace(const TDebugUnitTrace&) = delete;
    TDebugUnitTrace& operator=(const TDebugUnitTrace&) = delete;
    ~TDebugUnitTrace();

private:
    std::wstring FUnitName;
    TDebugScope FScope;
};

// Module steps. The start-up deletes the stale "<executable>.log" and creates
// the logger with UseLogFile set; the shut-down destroys the logger (from
// then on DebugLogger() answers null) and then the handler registry.
void DebugLoggerStartUp();
void DebugLoggerShutDown();
