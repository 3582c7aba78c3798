#include "platform/Answer.h"

namespace {

// The system's codes, named as its headers name them.
constexpr std::uint32_t ErrorServiceDoesNotExist = 1060;
constexpr std::uint32_t ErrorServiceNotActive = 1062;
constexpr std::uint32_t ErrorServiceMarkedForDelete = 1072;
constexpr std::uint32_t ServiceDisabled = 4;

} // namespace

TAnswer ServiceAnswer(bool AYes, std::uint32_t AError) {
    if (AYes)
        return TAnswer::Of(true);
    switch (AError) {
    case 0:
    case ErrorServiceDoesNotExist:
    case ErrorServiceNotActive:
    case ErrorServiceMarkedForDelete:
        return TAnswer::Of(false);
    default:
        return TAnswer::Unknown(AError);
    }
}

TAnswer RegistrationAnswer(std::uint32_t AStartType, std::optional<std::uint32_t> ADeleteFlag) {
    if (AStartType != ServiceDisabled)
        return TAnswer::Of(true);
    if (ADeleteFlag.value_or(0) != 0)
        return TAnswer::Of(false);
    return TAnswer::Unknown(AccessDeniedError);
}
