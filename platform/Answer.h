// The answer to a yes-or-no question about the system, where not finding out
// is an answer of its own: yes, no, or unknown with the system's error that
// kept the answer (most often a caller without the rights to know it). Free
// of platform headers.
#pragma once

#include <cstdint>
#include <optional>

enum TAnswerKind { akNo, akYes, akUnknown };

struct TAnswer {
    TAnswerKind Kind = akNo;
    std::uint32_t Error = 0; // for akUnknown: the system's error code

    static constexpr TAnswer Of(bool AYes) { return {AYes ? akYes : akNo, 0}; }
    static constexpr TAnswer Unknown(std::uint32_t AError) { return {akUnknown, AError}; }
    constexpr bool IsYes() const { return Kind == akYes; }
    constexpr bool IsKnown() const { return Kind != akUnknown; }
    friend constexpr bool operator==(const TAnswer&, const TAnswer&) = default;
};

// The error of a refused access (ERROR_ACCESS_DENIED).
inline constexpr std::uint32_t AccessDeniedError = 5;

// A question to the service control manager, answered false with AError (the
// call's error, 0 where none failed): no where the error itself is the answer
// (no such service, the service not running, its registration marked for
// deletion), unknown for every other error.
TAnswer ServiceAnswer(bool AYes, std::uint32_t AError);

// Whether a service registration stands, as far as its configuration tells
// without the right to change it. The service control manager disables what
// it marks for deletion, so any other start type proves the registration
// stands; a disabled one was marked only where the manager's own mark in the
// registry (ADeleteFlag, the value "DeleteFlag" under the service's key) says
// so, and is unknown otherwise, for an administrator may have disabled it.
TAnswer RegistrationAnswer(std::uint32_t AStartType, std::optional<std::uint32_t> ADeleteFlag);
