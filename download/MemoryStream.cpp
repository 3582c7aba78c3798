#include "download/MemoryStream.h"

#include <algorithm>
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
    if (position + ACount > FData.size()) {
        Grow(position + ACount);
        FData.resize(position + ACount);
    }
    std::memcpy(FData.data() + position, ABuffer, ACount);
    FPosition += static_cast<int64_t>(ACount);
}

void TMemoryStream::Expect(int64_t AByteCount) noexcept {
    if (AByteCount <= 0 || static_cast<unsigned long long>(AByteCount) > FData.max_size())
        return;
    FExpectedEnd = static_cast<size_t>(FPosition) + static_cast<size_t>(AByteCount);
}

void TMemoryStream::Grow(size_t ASize) {
    if (ASize <= FData.capacity())
        return;
    // The first step takes up to this much at once, so that a small body is
    // held in one piece from its first bytes.
    constexpr size_t firstStep = size_t{1} << 20;
    size_t capacity = std::max({ASize, FData.capacity() * 2, firstStep});
    if (FExpectedEnd >= ASize)
        capacity = std::min(capacity, FExpectedEnd);
    // A string's own growth may double past what it was asked for; a fresh
    // one takes exactly the capacity asked.
    std::string grown;
    grown.reserve(capacity);
    grown.assign(FData);
    FData.swap(grown);
}

void TMemoryStream::Clear() {
    std::string().swap(FData);
    FPosition = 0;
    FExpectedEnd = 0;
}
