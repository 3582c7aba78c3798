#include "tests/support/ScriptedHookControls.h"

#include <optional>
#include <stdexcept>
#include <utility>

void TScriptedHookControls::Record(const std::string& AOperation, const std::string& ADetail) {
    const std::lock_guard<std::mutex> lock(*FLock);
    Calls.push_back(AOperation + ADetail);
    if (Raising.count(AOperation))
        throw std::runtime_error(AOperation + " failed on purpose");
}

bool TScriptedHookControls::Ask(const std::string& AOperation) {
    Record(AOperation);
    const std::lock_guard<std::mutex> lock(*FLock);
    bool answer = false;
    std::deque<bool>& next = Next[AOperation];
    if (!next.empty()) {
        answer = next.front();
        next.pop_front();
    } else {
        const auto standing = Standing.find(AOperation);
        answer = standing != Standing.end() && standing->second;
    }
    if (const auto outcome = Outcomes.find(AOperation); outcome != Outcomes.end())
        FOutcome = outcome->second;
    if (!answer) {
        const auto error = Errors.find(AOperation);
        ::SetLastError(error != Errors.end() ? error->second : ERROR_SUCCESS);
    }
    return answer;
}

std::optional<TInjectionOutcome> TScriptedHookControls::TakeInjectionOutcome() {
    const std::lock_guard<std::mutex> lock(*FLock);
    return std::exchange(FOutcome, std::nullopt);
}

TAnswer TScriptedHookControls::AskAnswer(const std::string& AQuestion,
                                         const std::function<bool()>& AAsk) {
    std::optional<DWORD> error;
    {
        const std::lock_guard<std::mutex> lock(*FLock);
        if (const auto unknown = Unknown.find(AQuestion); unknown != Unknown.end())
            error = unknown->second;
    }
    if (!error)
        return TAnswer::Of(AAsk());
    Record(AQuestion);
    return TAnswer::Unknown(*error);
}
