#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "app/Modules.h"

namespace {

std::string Trace;

TModuleStep Step(const char* AName, void (*AStart)(), void (*AStop)()) {
    return {AName, AStart, AStop};
}

TEST(Modules, StartInOrderShutDownInReverse) {
    Trace.clear();
    {
        TModuleSequence modules({
            Step(
                "a", [] { Trace += "+a"; }, [] { Trace += "-a"; }),
            Step("b", nullptr, [] { Trace += "-b"; }),
            Step(
                "c", [] { Trace += "+c"; }, nullptr),
        });
        modules.StartUp();
        EXPECT_EQ(Trace, "+a+c");
        modules.ShutDown();
        modules.ShutDown();
    }
    EXPECT_EQ(Trace, "+a+c-b-a");
}

TEST(Modules, FailedStartUpShutsDownOnlyWhatStarted) {
    Trace.clear();
    TModuleSequence modules({
        Step(
            "a", [] { Trace += "+a"; }, [] { Trace += "-a"; }),
        Step(
            "b", [] { throw std::runtime_error("b failed"); }, [] { Trace += "-b"; }),
        Step(
            "c", [] { Trace += "+c"; }, [] { Trace += "-c"; }),
    });
    EXPECT_THROW(modules.StartUp(), std::runtime_error);
    EXPECT_EQ(Trace, "+a-a");
}

TEST(Modules, ShutDownGoesOnPastAFailingModule) {
    Trace.clear();
    {
        TModuleSequence modules({
            Step("a", nullptr, [] { Trace += "-a"; }),
            Step("b", nullptr, [] { throw std::runtime_error("b"); }),
        });
        modules.StartUp();
    }
    EXPECT_EQ(Trace, "-a");
}

} // namespace
