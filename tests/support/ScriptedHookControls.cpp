#include "ScriptedHookControls.h"

#include <stdexcept>

bool TScriptedHookControls::Ask(const std::string& AOperation) {
    Calls.push_back(AOperation);
    if (Raising.count(AOperation))
        throw std::runtime_error(AOperation + " failed on purpose");
    bool answer = false;
    std::deque<bool>& next = Next[AOperation];
    if (!next.empty()) {
        answer = next.front();
        next.pop_front();
    } else {
        const auto standing = Standing.find(AOperation);
        answer = standing != Standing.end() && standing->second;
    }
    if (!answer) {
        const auto error = Errors.find(AOperation);
        ::SetLastError(error != Errors.end() ? error->second : ERROR_SUCCESS);
    }
    return answer;
}
