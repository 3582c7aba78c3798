#include "PEImage.h"

#include <cstdint>

namespace {

// The layout of the parts read here (offsets in bytes, little-endian), of
// our own: the platform's structures stay out of a module that is fuzzed
// natively.
namespace Layout {
constexpr uint64_t DOSHeaderSize = 64;
constexpr uint64_t DOSMagicAt = 0;        // "MZ"
constexpr uint64_t PEHeaderOffsetAt = 60; // e_lfanew
constexpr uint64_t SignatureSize = 4;     // "PE\0\0"
constexpr uint64_t FileHeaderSize = 20;
// In the file header.
constexpr uint64_t NumberOfSectionsAt = 2;
constexpr uint64_t PointerToSymbolTableAt = 8;
constexpr uint64_t NumberOfSymbolsAt = 12;
constexpr uint64_t SizeOfOptionalHeaderAt = 16;
constexpr uint64_t SymbolSize = 18;
constexpr uint64_t StringTableLengthSize = 4;
// In the optional header: the two kinds differ from the image base on.
constexpr uint16_t Magic32 = 0x10B;
constexpr uint16_t Magic64 = 0x20B;
constexpr uint64_t SizeOfHeadersAt = 60;
constexpr uint64_t DirectoryCountAt32 = 92;
constexpr uint64_t DirectoryCountAt64 = 108;
constexpr uint64_t DirectorySize = 8;
constexpr uint64_t MaxDirectories = 16;
constexpr uint64_t CertificateDirectory = 4;
// In a section header.
constexpr uint64_t SectionHeaderSize = 40;
constexpr uint64_t SizeOfRawDataAt = 16;
constexpr uint64_t PointerToRawDataAt = 20;
} // namespace Layout

// The bytes with bounds: every read states where, and fails outside. All
// offsets are 64-bit sums of 32-bit fields, which cannot overflow.
class TBytes {
public:
    explicit TBytes(std::string_view ABytes) : FBytes(ABytes) {}

    uint64_t Size() const { return FBytes.size(); }
    bool Holds(uint64_t AOffset, uint64_t ACount) const {
        return AOffset <= Size() && ACount <= Size() - AOffset;
    }
    bool U16(uint64_t AOffset, uint16_t& AValue) const {
        if (!Holds(AOffset, 2))
            return false;
        AValue = static_cast<uint16_t>(Byte(AOffset) | Byte(AOffset + 1) << 8);
        return true;
    }
    bool U32(uint64_t AOffset, uint32_t& AValue) const {
        uint16_t low = 0, high = 0;
        if (!U16(AOffset, low) || !U16(AOffset + 2, high))
            return false;
        AValue = static_cast<uint32_t>(low) | static_cast<uint32_t>(high) << 16;
        return true;
    }

private:
    unsigned Byte(uint64_t AOffset) const {
        return static_cast<unsigned char>(FBytes[static_cast<size_t>(AOffset)]);
    }
    std::string_view FBytes;
};

} // namespace

TPEImageFault CheckPEImage(std::string_view ABytes) {
    using namespace Layout;
    const TBytes bytes(ABytes);

    uint16_t dosMagic = 0;
    uint32_t peOffset = 0;
    if (!bytes.Holds(0, DOSHeaderSize) || !bytes.U16(DOSMagicAt, dosMagic) || dosMagic != 0x5A4D ||
        !bytes.U32(PEHeaderOffsetAt, peOffset))
        return TPEImageFault::pifNoDOSHeader;

    uint32_t signature = 0;
    if (!bytes.Holds(peOffset, SignatureSize + FileHeaderSize) || !bytes.U32(peOffset, signature) ||
        signature != 0x00004550)
        return TPEImageFault::pifNoPEHeader;
    const uint64_t fileHeader = uint64_t{peOffset} + SignatureSize;
    uint16_t sectionCount = 0, optionalSize = 0;
    uint32_t symbolTable = 0, symbolCount = 0;
    bytes.U16(fileHeader + NumberOfSectionsAt, sectionCount);
    bytes.U32(fileHeader + PointerToSymbolTableAt, symbolTable);
    bytes.U32(fileHeader + NumberOfSymbolsAt, symbolCount);
    bytes.U16(fileHeader + SizeOfOptionalHeaderAt, optionalSize);

    const uint64_t optional = fileHeader + FileHeaderSize;
    uint16_t magic = 0;
    if (!bytes.Holds(optional, optionalSize) || !bytes.U16(optional, magic) ||
        (magic != Magic32 && magic != Magic64))
        return TPEImageFault::pifBadOptionalHeader;
    const uint64_t countAt = magic == Magic64 ? DirectoryCountAt64 : DirectoryCountAt32;
    const uint64_t directories = countAt + 4;
    uint32_t headersSize = 0, directoryCount = 0;
    if (optionalSize < directories || !bytes.U32(optional + SizeOfHeadersAt, headersSize) ||
        !bytes.U32(optional + countAt, directoryCount))
        return TPEImageFault::pifBadOptionalHeader;
    // The loader looks at no more than sixteen directories; those it looks
    // at must lie within the optional header.
    const uint64_t usedDirectories =
        directoryCount < MaxDirectories ? directoryCount : MaxDirectories;
    if (directories + usedDirectories * DirectorySize > optionalSize)
        return TPEImageFault::pifBadOptionalHeader;

    const uint64_t sections = optional + optionalSize;
    if (!bytes.Holds(sections, uint64_t{sectionCount} * SectionHeaderSize) ||
        !bytes.Holds(0, headersSize))
        return TPEImageFault::pifHeadersCut;
    for (uint64_t i = 0; i < sectionCount; ++i) {
        const uint64_t header = sections + i * SectionHeaderSize;
        uint32_t rawSize = 0, rawOffset = 0;
        bytes.U32(header + SizeOfRawDataAt, rawSize);
        bytes.U32(header + PointerToRawDataAt, rawOffset);
        if (rawSize != 0 && !bytes.Holds(rawOffset, rawSize))
            return TPEImageFault::pifSectionCut;
    }

    // The certificate table's address is a file offset, not a virtual one.
    if (usedDirectories > CertificateDirectory) {
        const uint64_t entry = optional + directories + CertificateDirectory * DirectorySize;
        uint32_t certificateOffset = 0, certificateSize = 0;
        bytes.U32(entry, certificateOffset);
        bytes.U32(entry + 4, certificateSize);
        if (certificateSize != 0 &&
            (certificateOffset == 0 || !bytes.Holds(certificateOffset, certificateSize)))
            return TPEImageFault::pifCertificatesCut;
    }

    // A COFF symbol table (left in by some linkers) ends the file, followed
    // by its string table, whose first four bytes give its length.
    if (symbolTable != 0) {
        const uint64_t strings = symbolTable + uint64_t{symbolCount} * SymbolSize;
        uint32_t stringsSize = 0;
        if (!bytes.Holds(symbolTable, uint64_t{symbolCount} * SymbolSize) ||
            !bytes.U32(strings, stringsSize) ||
            (stringsSize > StringTableLengthSize && !bytes.Holds(strings, stringsSize)))
            return TPEImageFault::pifSymbolsCut;
    }
    return TPEImageFault::pifNone;
}
