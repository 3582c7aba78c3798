#include "app/DownloadProgressText.h"

#include <algorithm>
#include <cstdint>

namespace {

std::wstring FileNameOf(const std::wstring& AURL) {
    const std::wstring path = AURL.substr(0, AURL.find_first_of(L"?#"));
    const size_t slash = path.find_last_of(L'/');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring Kilobytes(int64_t ABytes) {
    return std::to_wstring(std::max<int64_t>(ABytes, 0) / 1024);
}

} // namespace

int DownloadProgressPermille(int64_t AReceived, int64_t ATotal) {
    if (ATotal <= 0)
        return 0;
    int64_t received = std::clamp<int64_t>(AReceived, 0, ATotal);
    int64_t total = ATotal;
    // Lengths too long for the product with 1000 are scaled down first.
    if (total > INT64_MAX / 1000) {
        received /= 1000;
        total /= 1000;
    }
    return static_cast<int>(received * 1000 / total);
}

std::wstring DownloadProgressCaption(const std::wstring& AURL, int64_t AReceived, int64_t ATotal,
                                     const std::wstring& ATitle) {
    std::wstring text = L"Downloading " + FileNameOf(AURL) + L": ";
    if (ATotal > 0)
        text += std::to_wstring(DownloadProgressPermille(AReceived, ATotal) / 10) + L"% (" +
                Kilobytes(AReceived) + L" of " + Kilobytes(ATotal) + L" KB)";
    else
        text += Kilobytes(AReceived) + L" KB";
    return text + L" - " + ATitle;
}
