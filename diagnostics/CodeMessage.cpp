#include "diagnostics/CodeMessage.h"

std::wstring FormatCodeMessage(const std::wstring& AFormat, int32_t ACode,
                               const std::wstring& AText) {
    std::wstring result;
    bool codeDone = false;
    bool textDone = false;
    for (size_t i = 0; i < AFormat.size(); ++i) {
        if (AFormat[i] == L'%' && i + 1 < AFormat.size()) {
            const wchar_t kind = AFormat[i + 1];
            if (kind == L'%') {
                result += L'%';
                ++i;
                continue;
            }
            if (kind == L'd' && !codeDone) {
                result += std::to_wstring(ACode);
                codeDone = true;
                ++i;
                continue;
            }
            if (kind == L's' && codeDone && !textDone) {
                result += AText;
                textDone = true;
                ++i;
                continue;
            }
        }
        result += AFormat[i];
    }
    return result;
}
