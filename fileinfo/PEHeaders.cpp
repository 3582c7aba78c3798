#include "fileinfo/PEHeaders.h"

#include <cstring>

namespace {

// The layout of the parts read here (offsets in bytes, little-endian).
constexpr uint64_t DOSHeaderSize = 64;
constexpr uint16_t DOSMagic = 0x5A4D;     // "MZ"
constexpr uint64_t PEHeaderOffsetAt = 60; // e_lfanew
constexpr uint32_t PESignature = 0x4550;  // "PE\0\0"
constexpr uint64_t SignatureSize = 4;
constexpr uint64_t FileHeaderSize = 20;
// In the file header.
constexpr uint64_t MachineAt = 0;
constexpr uint64_t NumberOfSectionsAt = 2;
constexpr uint64_t PointerToSymbolTableAt = 8;
constexpr uint64_t NumberOfSymbolsAt = 12;
constexpr uint64_t SizeOfOptionalHeaderAt = 16;
constexpr uint64_t CharacteristicsAt = 18;
// In the optional header: the two kinds differ from the image base on.
constexpr uint16_t Magic32 = 0x10B;
constexpr uint16_t Magic64 = 0x20B;
constexpr uint64_t SectionAlignmentAt = 32;
constexpr uint64_t FileAlignmentAt = 36;
constexpr uint64_t SizeOfImageAt = 56;
constexpr uint64_t SizeOfHeadersAt = 60;
constexpr uint64_t SubsystemAt = 68;
constexpr uint64_t DirectoryCountAt32 = 92;
constexpr uint64_t DirectoryCountAt64 = 108;
constexpr uint64_t DirectorySize = 8;
// In a section header.
constexpr uint64_t VirtualSizeAt = 8;
constexpr uint64_t VirtualAddressAt = 12;
constexpr uint64_t SizeOfRawDataAt = 16;
constexpr uint64_t PointerToRawDataAt = 20;

} // namespace

TPEReader BytesPEReader(std::string_view ABytes) {
    return [ABytes](uint64_t AOffset, void* ABuffer, std::size_t ASize) {
        if (AOffset > ABytes.size() || ASize > ABytes.size() - AOffset)
            return false;
        std::memcpy(ABuffer, ABytes.data() + AOffset, ASize);
        return true;
    };
}

TPEHeadersFault ReadPEHeaders(const TPEReader& ARead, TPEHeaders& AHeaders) {
    unsigned char dos[DOSHeaderSize];
    if (!ARead(0, dos, sizeof(dos)) || PEUInt16(dos) != DOSMagic)
        return TPEHeadersFault::phNoDOSHeader;
    const uint64_t peOffset = PEUInt32(dos + PEHeaderOffsetAt);
    unsigned char pe[SignatureSize + FileHeaderSize];
    if (!ARead(peOffset, pe, sizeof(pe)) || PEUInt32(pe) != PESignature)
        return TPEHeadersFault::phNoPEHeader;
    const unsigned char* file = pe + SignatureSize;
    TPEHeaders headers;
    headers.Machine = PEUInt16(file + MachineAt);
    headers.NumberOfSections = PEUInt16(file + NumberOfSectionsAt);
    headers.PointerToSymbolTable = PEUInt32(file + PointerToSymbolTableAt);
    headers.NumberOfSymbols = PEUInt32(file + NumberOfSymbolsAt);
    headers.SizeOfOptionalHeader = PEUInt16(file + SizeOfOptionalHeaderAt);
    headers.Characteristics = PEUInt16(file + CharacteristicsAt);

    const uint64_t optionalAt = peOffset + SignatureSize + FileHeaderSize;
    const uint64_t optionalSize = headers.SizeOfOptionalHeader;
    std::vector<unsigned char> optional(static_cast<std::size_t>(optionalSize));
    if (optionalSize < 2 || !ARead(optionalAt, optional.data(), optional.size()))
        return TPEHeadersFault::phBadOptionalHeader;
    const uint16_t magic = PEUInt16(optional.data());
    if (magic != Magic32 && magic != Magic64)
        return TPEHeadersFault::phBadOptionalHeader;
    headers.Is64Bit = magic == Magic64;
    const uint64_t countAt = headers.Is64Bit ? DirectoryCountAt64 : DirectoryCountAt32;
    const uint64_t directoriesAt = countAt + 4;
    if (optionalSize < directoriesAt)
        return TPEHeadersFault::phBadOptionalHeader;
    const uint32_t declared = PEUInt32(&optional[countAt]);
    const uint32_t used = declared < PEMaxDirectories ? declared : PEMaxDirectories;
    // Those the loader looks at lie within the optional header.
    if (directoriesAt + uint64_t{used} * DirectorySize > optionalSize)
        return TPEHeadersFault::phBadOptionalHeader;
    headers.SectionAlignment = PEUInt32(&optional[SectionAlignmentAt]);
    headers.FileAlignment = PEUInt32(&optional[FileAlignmentAt]);
    headers.SizeOfImage = PEUInt32(&optional[SizeOfImageAt]);
    headers.SizeOfHeaders = PEUInt32(&optional[SizeOfHeadersAt]);
    headers.Subsystem = PEUInt16(&optional[SubsystemAt]);
    for (uint32_t i = 0; i < used; ++i) {
        const unsigned char* entry = &optional[directoriesAt + i * DirectorySize];
        headers.Directories.push_back({PEUInt32(entry), PEUInt32(entry + 4)});
    }
    headers.SectionTableAt = optionalAt + optionalSize;
    AHeaders = std::move(headers);
    return TPEHeadersFault::phNone;
}

bool ReadPESections(const TPEReader& ARead, const TPEHeaders& AHeaders,
                    std::vector<TPESection>& ASections) {
    std::vector<TPESection> sections;
    for (uint64_t i = 0; i < AHeaders.NumberOfSections; ++i) {
        unsigned char header[PESectionHeaderSize];
        if (!ARead(AHeaders.SectionTableAt + i * PESectionHeaderSize, header, sizeof(header)))
            return false;
        sections.push_back({PEUInt32(header + VirtualSizeAt), PEUInt32(header + VirtualAddressAt),
                            PEUInt32(header + SizeOfRawDataAt),
                            PEUInt32(header + PointerToRawDataAt)});
    }
    ASections = std::move(sections);
    return true;
}
