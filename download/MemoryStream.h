// Streams of bytes: the download client writes a body into one at its current
// position, as much as arrives; a memory stream holds it whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TStream {
public:
    virtual ~TStream() = default;

    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t APosition) = 0;
    virtual int64_t Size() const = 0;
    // Writes ACount bytes at the position and moves past them; raises when it cannot.
    virtual void WriteBuffer(const void* ABuffer, size_t ACount) = 0;
    // A hint that at most about AByteCount bytes are going to be written at
    // the position. Never raises: a hint that cannot be followed is ignored.
    virtual void Expect(int64_t AByteCount) noexcept { (void)AByteCount; }
};

// Bytes in memory. A position past the end is allowed; a write there fills
// the gap with zero bytes.
class TMemoryStream final : public TStream {
public:
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t APosition) override;
    int64_t Size() const override { return static_cast<int64_t>(FData.size()); }
    void WriteBuffer(const void* ABuffer, size_t ACount) override;
    void Expect(int64_t AByteCount) noexcept override;

    // Every byte, from the start, whatever the position.
    const std::string& Bytes() const { return FData; }
    // Empty, at position 0, its memory released.
    void Clear();

private:
    // Room for at least ASize bytes: doubled, but never beyond the expected
    // end unless a write needs more, so that a promise of many bytes holds
    // no more memory than the bytes that came.
    void Grow(size_t ASize);

    std::string FData;
    int64_t FPosition = 0;
    size_t FExpectedEnd = 0;
};
