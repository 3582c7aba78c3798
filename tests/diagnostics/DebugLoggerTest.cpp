#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/DebugLogger.h"
#include "diagnostics/FailedCall.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"

namespace {

std::vector<std::wstring> Lines;
void CollectLine(const std::wstring& ALine) {
    Lines.push_back(ALine);
}

// A logger fresh from start-up, with a handler collecting its lines.
class DebugLoggerTest : public testing::Test {
protected:
    void SetUp() override {
        DebugLoggerStartUp();
        Lines.clear();
        DebugHandlerData()->RegisterDebugLogLineHandler(CollectLine);
    }
    void TearDown() override { DebugLoggerShutDown(); }

    TDebugLogger& Logger() { return *DebugLogger(); }
    // The line as it follows "{<program file>} ".
    static std::wstring Body(const std::wstring& ALine) {
        const std::wstring prefix = L"{" + ExtractFileName(ProgramFileName()) + L"} ";
        EXPECT_EQ(ALine.substr(0, prefix.size()), prefix);
        return ALine.substr(prefix.size());
    }
};

// The system's own text for a code, trimmed as the logger documents it.
std::wstring FormatMessageText(DWORD ACode) {
    wchar_t* buffer = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, ACode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    TLocalMemory owner(buffer);
    std::wstring text = buffer ? buffer : L"";
    EXPECT_FALSE(text.empty()) << "no system text for " << ACode;
    const size_t end = text.find_last_not_of(L" \t\r\n.");
    return end == std::wstring::npos ? std::wstring() : text.substr(0, end + 1);
}

class TProbe : public TDebugObject {
public:
    std::wstring DebugModuleName() const override { return L"DebugLoggerTest"; }
    std::wstring DebugText() const override { return L"TProbe"; }
};

class TBrokenProbe : public TDebugObject {
public:
    std::wstring DebugModuleName() const override { throw std::runtime_error("no module"); }
    std::wstring DebugText() const override { return L"TBrokenProbe"; }
};

class TProbeError : public std::runtime_error, public TDebugObject {
public:
    TProbeError() : std::runtime_error("probe failed") {}
    std::wstring DebugModuleName() const override { return L"DebugLoggerTest"; }
    std::wstring DebugText() const override { return L"TProbeError"; }
};

struct TLineCase {
    const char* Name;
    std::function<void(TDebugLogger&)> Log;
    std::wstring Expected;
};

TEST_F(DebugLoggerTest, RendersEachEventAsOneLine) {
    const TProbe probe;
    const TBrokenProbe broken;
    const TLineCase cases[] = {
        {"error code 5", [](auto& l) { l.LogError(5, L"Svc.Open", dlvError); },
         L"! Svc.Open (error code 5: " + FormatMessageText(5) + L")"},
        {"error code 0", [](auto& l) { l.LogError(0, L"Svc.Open", dlvError); },
         L"! Svc.Open (error code 0: " + FormatMessageText(0) + L")"},
        {"code with the top bit set", [](auto& l) { l.LogError(0x80070005, L"X.Y", dlvError); },
         L"! X.Y (error code -2147024891: " + FormatMessageText(0x80070005) + L")"},
        {"code without a system text", [](auto& l) { l.LogError(0x2000FFFF, L"X.Y", dlvError); },
         L"! X.Y (error code 536936447: )"},
        {"error text", [](auto& l) { l.LogError(L"plain", dlvError); }, L"! plain"},
        {"8-bit error text", [](auto& l) { l.LogError(std::string("ansi"), dlvError); }, L"! ansi"},
        {"exception", [](auto& l) { l.LogException(std::runtime_error("boom"), L"Svc", dlvFatal); },
         L"! std.boom.Svc: boom"},
        {"exception naming its module",
         [](auto& l) { l.LogException(TProbeError(), L"Svc", dlvFatal); },
         L"! DebugLoggerTest.probe failed.Svc: probe failed"},
        {"unit start-up enter", [](auto& l) { l.LogEnterUnitInitialization(L"vxnWinAPITrust"); },
         L"> [unit initialization] vxnWinAPITrust"},
        {"unit start-up leave", [](auto& l) { l.LogLeaveUnitInitialization(L"vxnWinAPITrust"); },
         L"< [unit initialization] vxnWinAPITrust"},
        {"unit shut-down", [](auto& l) { l.LogEnterUnitFinalization(L"vxnWinAPITrust"); },
         L"> [unit finalization] vxnWinAPITrust"},
        {"process", [](auto& l) { l.LogLeaveProcess(std::string("app")); }, L"< [process] app"},
        {"thread with an object", [&](auto& l) { l.LogEnterThread(&probe, L"worker", dlvDebug); },
         L"> [thread] DebugLoggerTest.TProbe.worker"},
        {"method, no arguments", [](auto& l) { l.LogEnterMethod(L"Scan", dlvDefault); },
         L"> [method] Scan"},
        {"method, empty list", [](auto& l) { l.LogEnterMethod(L"Scan", {}, dlvDefault); },
         L"> [method] Scan"},
        {"enter, one value", [](auto& l) { l.LogEnterMethod(L"Scan", {3}, dlvDefault); },
         L"> [method] Scan(3)"},
        {"enter, two values",
         [](auto& l) {
             l.LogEnterMethod(L"Scan", {3, L"abc"}, dlvDefault);
         },
         L"> [method] Scan(3, 'abc')"},
        {"leave, one text", [](auto& l) { l.LogLeaveMethod(L"Scan", {"it's"}, dlvDefault); },
         L"< [method] Scan = it's"},
        {"leave, one number", [](auto& l) { l.LogLeaveMethod(L"Scan", {7u}, dlvDefault); },
         L"< [method] Scan = 7"},
        {"leave, two values, quote inside",
         [](auto& l) {
             l.LogLeaveMethod(L"Scan", {true, std::wstring(L"a'b")}, dlvDefault);
         },
         L"< [method] Scan(True, 'a'b')"},
        {"8-bit name, object, other kinds",
         [&](auto& l) {
             l.LogEnterMethod(&probe, std::string("Scan"), {2.5, false, -4}, dlvDefault);
         },
         L"> [method] DebugLoggerTest.TProbe.Scan(?, False, -4)"},
        {"object that cannot name itself",
         [&](auto& l) { l.LogMessage(&broken, L"text", dlvDefault); }, L"i (unknown)text"},
        {"8-bit message", [](auto& l) { l.LogMessage(std::string("note"), dlvDefault); },
         L"i note"},
        {"warning", [](auto& l) { l.LogWarning(L"careful"); }, L"? careful"},
    };
    for (const TLineCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Lines.clear();
        c.Log(Logger());
        ASSERT_EQ(Lines.size(), 1u);
        EXPECT_EQ(Body(Lines[0]), c.Expected);
    }
}

TEST_F(DebugLoggerTest, LineMarksAndScopeWords) {
    EXPECT_EQ(DebugLineMark(static_cast<TDebugLineKind>(9)), L"?");
    EXPECT_EQ(DebugScopeWord(dlsThread), L"thread");
}

struct TLevelCase {
    const char* Name;
    TDebugLevel ReleaseLevel;
    TDebugLevel DebugLevel;
    std::function<void(TDebugLogger&)> Log;
    bool Produces;
};

TEST_F(DebugLoggerTest, OnlyTheReleaseThresholdFilters) {
    const TLevelCase cases[] = {
        {"default: error", dlvError, dlvMessage, [](auto& l) { l.LogError(5, L"x", dlvError); },
         true},
        {"default: exception", dlvError, dlvMessage,
         [](auto& l) { l.LogException(std::logic_error("e"), L"x", dlvFatal); }, true},
        {"default: message at warning", dlvError, dlvMessage,
         [](auto& l) { l.LogMessage(L"x", dlvWarning); }, false},
        {"default: warning", dlvError, dlvMessage, [](auto& l) { l.LogWarning(L"x"); }, true},
        {"raised: error", dlvDefault, dlvMessage, [](auto& l) { l.LogError(L"x", dlvError); },
         false},
        {"raised: exception", dlvDefault, dlvMessage,
         [](auto& l) { l.LogException(std::logic_error("e"), L"x", dlvFatal); }, false},
        {"raised: message at default", dlvDefault, dlvMessage,
         [](auto& l) { l.LogMessage(L"x", dlvDefault); }, true},
        {"raised: unit start-up", dlvDefault, dlvMessage,
         [](auto& l) { l.LogLeaveUnitFinalization(L"u"); }, true},
        {"raised: process", dlvDefault, dlvMessage, [](auto& l) { l.LogEnterProcess(L"p"); }, true},
        {"raised: thread", dlvDefault, dlvMessage,
         [](auto& l) { l.LogLeaveThread(L"t", dlvDebug); }, true},
        {"raised: warning", dlvDefault, dlvMessage, [](auto& l) { l.LogWarning(L"x"); }, true},
        {"lowered: debug message", dlvDebug, dlvMessage,
         [](auto& l) { l.LogMessage(L"x", dlvDebug); }, true},
        {"lowered: debug trace", dlvDebug, dlvMessage,
         [](auto& l) { l.LogLeaveMethod(L"m", dlvDebug); }, true},
        {"debug mode lowered: message at warning", dlvError, dlvDebug,
         [](auto& l) { l.LogMessage(L"x", dlvWarning); }, false},
        {"debug mode raised: error", dlvError, dlvDefault,
         [](auto& l) { l.LogError(5, L"x", dlvError); }, true},
    };
    for (const TLevelCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Logger().SetDebugLevelInReleaseMode(c.ReleaseLevel);
        Logger().SetDebugLevelInDebugMode(c.DebugLevel);
        Lines.clear();
        c.Log(Logger());
        EXPECT_EQ(Lines.size(), c.Produces ? 1u : 0u);
    }
}

TEST_F(DebugLoggerTest, VariableDumpsEmitNothing) {
    Logger().SetDebugLevelInReleaseMode(dlvDebug);
    Logger().LogVarString(L"s", std::string("a"), dlvDefault);
    Logger().LogVarString(L"s", std::wstring(L"a"), dlvDefault);
    Logger().LogVarBoolean(L"b", true, dlvDefault);
    Logger().LogVarCardinal(L"c", 1, dlvDefault);
    Logger().LogVarInteger(L"i", -1, dlvDefault);
    Logger().LogVarInt64(L"i", -1, dlvDefault);
    Logger().LogVarUInt64(L"u", 1, dlvDefault);
    Logger().LogVarStringList(L"l", {L"a", L"b"}, dlvDefault);
    EXPECT_TRUE(Lines.empty());
}

TEST_F(DebugLoggerTest, StartsWithItsInitialSettingsAndKeepsTheProcessName) {
    const TDebugLoggerSettings settings = Logger().Settings();
    EXPECT_EQ(settings.DebugLevelInDebugMode, dlvMessage);
    EXPECT_EQ(settings.DebugLevelInReleaseMode, dlvError);
    EXPECT_FALSE(settings.UseConsole);
    EXPECT_FALSE(settings.UseDebugConsole);
    EXPECT_TRUE(settings.UseLogFile) << "set by the start-up";
    EXPECT_TRUE(settings.UseEventLog);
    EXPECT_EQ(settings.LogFilename, ProgramFileName() + L".log");
    EXPECT_EQ(settings.ProcessName, L"");

    Logger().LogEnterProcess(std::string("worker"));
    EXPECT_EQ(Logger().ProcessName(), L"worker");
    EXPECT_EQ(Body(Lines.at(0)), L"> [process] worker") << "the stored name is not repeated";
}

TEST_F(DebugLoggerTest, KeepsTheCallersLastError) {
    ::SetLastError(1234);
    Logger().LogError(5, L"x", dlvError);
    Logger().LogException(std::runtime_error("e"), L"x", dlvFatal);
    Logger().LogMessage(L"x", dlvDebug);
    EXPECT_EQ(::GetLastError(), 1234u);
}

TEST_F(DebugLoggerTest, AFailedCallIsOneErrorLineWithItsCodeAndKeepsTheLastError) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(LogFailedCall(L"Svc.OpenServiceW"), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // A code the call returned itself, with another last error standing.
    ::SetLastError(1234);
    LogFailedCall(L"Store.Write.Flag", ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(::GetLastError(), 1234u);
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Body(Lines[0]), L"! Svc.OpenServiceW (error code 5: " +
                                  FormatMessageText(ERROR_ACCESS_DENIED) + L")");
    EXPECT_EQ(Body(Lines[1]), L"! Store.Write.Flag (error code 2: " +
                                  FormatMessageText(ERROR_FILE_NOT_FOUND) + L")");

    DebugLoggerShutDown();
    ::SetLastError(87);
    EXPECT_EQ(LogFailedCall(L"After.ShutDown"), 87u);
    EXPECT_EQ(Lines.size(), 2u);
    DebugLoggerStartUp();
}

std::vector<std::wstring> Trace;
void HandlerA(const std::wstring&) {
    Trace.push_back(L"A");
}
void HandlerB(const std::wstring&) {
    Trace.push_back(L"B");
}
void HandlerC(const std::wstring&) {
    Trace.push_back(L"C");
}

TEST_F(DebugLoggerTest, HandlersRunInOrderAndRemovalSwapsInTheLast) {
    THandlerData& handlers = *DebugHandlerData();
    handlers.RemoveDebugLogLineHandler(CollectLine);
    for (TDebugLogLineHandler handler : {HandlerA, HandlerB, HandlerA, HandlerC})
        handlers.RegisterDebugLogLineHandler(handler);
    Trace.clear();
    handlers.SendDebugLogLineToHandlers(L"line");
    EXPECT_EQ(Trace, (std::vector<std::wstring>{L"A", L"B", L"A", L"C"}))
        << "a handler registered twice is called twice";

    handlers.RemoveDebugLogLineHandler(HandlerA);
    EXPECT_FALSE(handlers.IsRegisteredDebugLogLineHandler(HandlerA)) << "one call removes both";
    EXPECT_TRUE(handlers.IsRegisteredDebugLogLineHandler(HandlerB));
    Trace.clear();
    Logger().LogWarning(L"line");
    EXPECT_EQ(Trace, (std::vector<std::wstring>{L"C", L"B"}));
}

struct TDataEvent {
    TDebugLineKind Kind;
    TDebugScope Scope;
    const TDebugObject* Object;
    std::wstring Text;
    size_t ArgumentCount;
};
std::vector<TDataEvent> DataEvents;
void CollectData(TDebugLineKind AKind, TDebugScope AScope, const TDebugObject* AObject,
                 const std::wstring& AText, const TDebugArguments& AArguments) {
    DataEvents.push_back({AKind, AScope, AObject, AText, AArguments.size()});
}
void OtherData(TDebugLineKind, TDebugScope, const TDebugObject*, const std::wstring&,
               const TDebugArguments&) {}

TEST_F(DebugLoggerTest, DataHandlersGetTheEventsParts) {
    THandlerData& handlers = *DebugHandlerData();
    handlers.RegisterDebugLogDataHandler(CollectData);
    handlers.RegisterDebugLogDataHandler(OtherData);
    handlers.RegisterDebugLogDataHandler(CollectData);
    handlers.RemoveDebugLogDataHandler(CollectData);
    handlers.RegisterDebugLogDataHandler(CollectData);
    DataEvents.clear();

    const TProbe probe;
    const std::runtime_error error("boom");
    Logger().LogEnterMethod(&probe, L"Scan", {3, L"x"}, dlvDefault);
    Logger().LogException(error, L"Svc", dlvFatal);
    ASSERT_EQ(DataEvents.size(), 2u) << "registered once after the removal";
    EXPECT_EQ(DataEvents[0].Kind, dlkEnter);
    EXPECT_EQ(DataEvents[0].Scope, dlsMethod);
    EXPECT_EQ(DataEvents[0].Object, &probe);
    EXPECT_EQ(DataEvents[0].Text, L"Scan");
    EXPECT_EQ(DataEvents[0].ArgumentCount, 2u);
    EXPECT_EQ(DataEvents[1].Kind, dlkError);
    EXPECT_EQ(DataEvents[1].Scope, dlsNone);
    EXPECT_EQ(DataEvents[1].Text, L"Svc: boom");
    EXPECT_EQ(DataEvents[1].ArgumentCount, 0u);
}

TEST_F(DebugLoggerTest, AnExceptionLinesObjectIsTheException) {
    static const std::exception* Seen = nullptr;
    DebugHandlerData()->RegisterDebugLogDataHandler(
        [](TDebugLineKind, TDebugScope, const TDebugObject* AObject, const std::wstring&,
           const TDebugArguments&) {
            const auto* object = dynamic_cast<const TDebugExceptionObject*>(AObject);
            Seen = object ? &object->Exception() : nullptr;
        });
    const std::runtime_error error("boom");
    Logger().LogException(error, L"Svc", dlvFatal);
    EXPECT_EQ(Seen, &error);
}

void LogFromInside(const std::wstring& ALine) {
    if (ALine.find(L"outer") == std::wstring::npos)
        return;
    TDebugLogger* logger = DebugLogger();
    logger->LogMessage(L"inner, level " + std::to_wstring(logger->DebugLevelInReleaseMode()),
                       dlvDefault);
}

TEST_F(DebugLoggerTest, AHandlerMayLogAndReadSettings) {
    DebugHandlerData()->RegisterDebugLogLineHandler(LogFromInside);
    Logger().LogWarning(L"outer");
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Body(Lines[0]), L"? outer");
    EXPECT_EQ(Body(Lines[1]), L"i inner, level 4");
}

TEST_F(DebugLoggerTest, AHandlersErrorReachesTheCallerAndFreesTheLock) {
    DebugHandlerData()->RegisterDebugLogLineHandler(
        [](const std::wstring&) { throw std::runtime_error("handler failed"); });
    EXPECT_THROW(Logger().LogWarning(L"x"), std::runtime_error);

    std::jthread other([] { DebugLogger()->SetUseConsole(true); });
    other.join();
    EXPECT_TRUE(Logger().UseConsole());
}

TEST_F(DebugLoggerTest, StartUpDeletesTheStaleLogFile) {
    const std::wstring logFile = ProgramFileName() + L".log";
    {
        TFileHandle file(::CreateFileW(logFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
    }
    DebugLoggerShutDown();
    DebugLoggerStartUp();
    EXPECT_EQ(::GetFileAttributesW(logFile.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DebugLoggerTest, NothingIsLoggedAfterShutDown) {
    DebugLoggerShutDown();
    EXPECT_EQ(DebugLogger(), nullptr);
    EXPECT_EQ(DebugLogger(), nullptr) << "the accessor does not make a new logger";
    { TDebugUnitTrace trace(L"late", dlsUnitFinalization); }
    EXPECT_TRUE(Lines.empty());
    EXPECT_FALSE(DebugHandlerData()->IsRegisteredDebugLogLineHandler(CollectLine))
        << "the registry went with the logger";

    const TDebugLoggerSettings fallback = DebugLoggerSettings();
    EXPECT_EQ(fallback.DebugLevelInDebugMode, dlvError);
    EXPECT_EQ(fallback.DebugLevelInReleaseMode, dlvError);
    EXPECT_FALSE(fallback.UseConsole || fallback.UseDebugConsole || fallback.UseLogFile ||
                 fallback.UseEventLog);
    EXPECT_EQ(fallback.LogFilename, L"");
}

TEST_F(DebugLoggerTest, UnitTraceBracketsWorkThatFails) {
    try {
        TDebugUnitTrace trace(L"vxnModule", dlsUnitInitialization);
        throw std::runtime_error("start-up failed");
    } catch (const std::runtime_error&) {
    }
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Body(Lines[0]), L"> [unit initialization] vxnModule");
    EXPECT_EQ(Body(Lines[1]), L"< [unit initialization] vxnModule");
}

} // namespace
