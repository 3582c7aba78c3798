// Which failed questions to the service control manager are a "no" and which
// are unknown, and what a registration's configuration tells without the
// right to change it.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

#include "platform/Answer.h"

namespace {

TEST(Answer, AServiceQuestionIsNoOnlyWhereTheErrorIsTheAnswer) {
    const struct {
        bool Yes;
        DWORD Error;
        TAnswer Expected;
    } cases[] = {
        {true, 0, TAnswer::Of(true)},
        {true, ERROR_ACCESS_DENIED, TAnswer::Of(true)},
        {false, 0, TAnswer::Of(false)},
        {false, ERROR_SERVICE_DOES_NOT_EXIST, TAnswer::Of(false)},
        {false, ERROR_SERVICE_NOT_ACTIVE, TAnswer::Of(false)},
        {false, ERROR_SERVICE_MARKED_FOR_DELETE, TAnswer::Of(false)},
        // Under Wine a service database that cannot be opened answers so.
        {false, ERROR_INVALID_NAME, TAnswer::Unknown(ERROR_INVALID_NAME)},
        {false, ERROR_ACCESS_DENIED, TAnswer::Unknown(ERROR_ACCESS_DENIED)},
        {false, RPC_S_SERVER_UNAVAILABLE, TAnswer::Unknown(RPC_S_SERVER_UNAVAILABLE)},
        {false, ERROR_DATABASE_DOES_NOT_EXIST, TAnswer::Unknown(ERROR_DATABASE_DOES_NOT_EXIST)},
    };
    for (const auto& row : cases) {
        const TAnswer answer = ServiceAnswer(row.Yes, row.Error);
        EXPECT_EQ(answer, row.Expected) << row.Yes << " " << row.Error;
        EXPECT_EQ(answer.IsKnown(), row.Expected.Kind != akUnknown);
    }
    EXPECT_EQ(AccessDeniedError, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
}

TEST(Answer, ARegistrationStandsUnlessDisabledAndOnlyTheManagersMarkSaysItWent) {
    const struct {
        DWORD StartType;
        std::optional<std::uint32_t> DeleteFlag;
        TAnswer Expected;
    } cases[] = {
        {SERVICE_BOOT_START, std::nullopt, TAnswer::Of(true)},
        {SERVICE_SYSTEM_START, std::nullopt, TAnswer::Of(true)},
        {SERVICE_AUTO_START, std::nullopt, TAnswer::Of(true)},
        {SERVICE_DEMAND_START, std::nullopt, TAnswer::Of(true)},
        // The manager disables what it marks; a mark on another start type
        // is stale and says nothing.
        {SERVICE_SYSTEM_START, 1, TAnswer::Of(true)},
        {SERVICE_DISABLED, 1, TAnswer::Of(false)},
        {SERVICE_DISABLED, 0, TAnswer::Unknown(ERROR_ACCESS_DENIED)},
        {SERVICE_DISABLED, std::nullopt, TAnswer::Unknown(ERROR_ACCESS_DENIED)},
    };
    for (const auto& row : cases)
        EXPECT_EQ(RegistrationAnswer(row.StartType, row.DeleteFlag), row.Expected)
            << row.StartType << " " << row.DeleteFlag.value_or(99);
}

} // namespace
