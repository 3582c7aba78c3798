#include "MemoryStream.h"

#include <cstring>
#include <new>
#include <stdexcept>

void TMemoryStream::SetPosition(int64_t APosition) {
    if (APosition < 0)
        throw std::out_of_range("stream position before the start");
    FPosition = APosition;
}

void TMemoryStream::WriteBuffer(const void* ABuffer, size_t ACount) {
    if (ACount == 0)
        return;
    const size_t position = static_cast<size_t>(FPosition);
    if (position + ACount > FData.size())
        FData.resize(position + ACount);
    std::memcpy(FData.data() + position, ABuffer, ACount);
    FPosition += static_cast<int64_t>(ACount);
}

void TMemoryStream::Expect(int64_t AByteCount) noexcept {
    if (AByteCount <= 0)
        return;
    // Room for the whole body at once: growing step by step would copy it
    // several times and hold up to twice its size for a moment. A length too
    // large to reserve is left to the writes, which then fail on their own.
    try {
        const auto wanted = static_cast<unsigned long long>(FPosition) +
                            static_cast<unsigned long long>(AByteCount);
        if (wanted <= FData.max_size())
            FData.reserve(static_cast<size_t>(wanted));
    } catch (const std::exception&) {
    }
}

void TMemoryStream::Clear() {
    std::string().swap(FData);
    FPosition = 0;
}
