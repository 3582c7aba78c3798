// Builds of the Live Protection files for the tests of their replacement:
// each one the build's own image, told apart by bytes of its own inside it,
// so that it has a size and a digest of its own and stays a whole image of
// the same kind (the swap refuses anything else, bytes after an image too).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A little-endian field of ASize bytes (at most four) at AOffset of an image.
uint32_t GetField(const std::string& ABytes, size_t AOffset, size_t ASize = 4);
void PutField(std::string& ABytes, size_t AOffset, uint32_t AValue, size_t ASize = 4);

// Where the parts of a real image are.
struct TImageLayout {
    explicit TImageLayout(const std::string& AImage);
    size_t FileHeader;  // the file header, after "PE\0\0"
    size_t Optional;    // the optional header
    size_t Directories; // its data directories
    size_t Sections;    // the section table
    size_t SectionCount;
};

// AImage with ALabel's bytes, repeated to at least APayloadSize bytes, as one
// more entry of its certificate table. A signature leaves that table out of
// its digest, so one the image has still holds. A certificate table the image
// has must end it, as signing tools leave it.
std::string ImageBuild(const std::string& AImage, const std::string& ALabel,
                       size_t APayloadSize = 0);
