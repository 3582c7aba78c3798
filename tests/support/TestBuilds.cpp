#include "tests/support/TestBuilds.h"

#include <cstdint>
#include <stdexcept>

uint32_t GetField(const std::string& ABytes, size_t AOffset, size_t ASize) {
    uint32_t value = 0;
    for (size_t i = 0; i < ASize; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(ABytes.at(AOffset + i)))
                 << (8 * i);
    return value;
}

void PutField(std::string& ABytes, size_t AOffset, uint32_t AValue, size_t ASize) {
    for (size_t i = 0; i < ASize; ++i)
        ABytes.at(AOffset + i) = static_cast<char>(AValue >> (8 * i));
}

TImageLayout::TImageLayout(const std::string& AImage)
    : FileHeader(GetField(AImage, 60) + 4), Optional(FileHeader + 20),
      Directories(Optional + (GetField(AImage, Optional, 2) == 0x20B ? 112 : 96)),
      Sections(Optional + GetField(AImage, FileHeader + 16, 2)),
      SectionCount(GetField(AImage, FileHeader + 2, 2)) {}

namespace {

size_t AlignUp(size_t AValue) {
    return (AValue + 7) / 8 * 8;
}

} // namespace

std::string ImageBuild(const std::string& AImage, const std::string& ALabel, size_t APayloadSize) {
    // The certificate directory is the fifth.
    const TImageLayout layout(AImage);
    if (GetField(AImage, layout.Directories - 4) < 5)
        throw std::invalid_argument("an image without a certificate directory");
    const size_t directory = layout.Directories + 4 * 8;

    std::string payload = ALabel.empty() ? std::string("build") : ALabel;
    while (payload.size() < APayloadSize)
        payload += payload.substr(0, APayloadSize - payload.size());
    // A WIN_CERTIFICATE of revision 2.0 and a type no signature has.
    std::string entry(8, '\0');
    PutField(entry, 0, static_cast<uint32_t>(8 + payload.size()), 4);
    PutField(entry, 4, 0x0200, 2);
    PutField(entry, 6, 0x0003, 2);
    entry += payload;
    entry.resize(AlignUp(entry.size()), '\0');

    std::string build = AImage;
    size_t offset = GetField(build, directory, 4);
    size_t size = GetField(build, directory + 4, 4);
    if (size == 0) {
        offset = AlignUp(build.size());
    } else if (offset + size > build.size() || AlignUp(offset + size) < build.size()) {
        throw std::invalid_argument("an image whose certificate table does not end it");
    }
    size = AlignUp(size);
    build.resize(offset + size, '\0');
    build += entry;
    PutField(build, directory, static_cast<uint32_t>(offset), 4);
    PutField(build, directory + 4, static_cast<uint32_t>(size + entry.size()), 4);
    return build;
}
