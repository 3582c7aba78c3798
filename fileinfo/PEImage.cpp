#include "fileinfo/PEImage.h"

#include <algorithm>
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
constexpr uint64_t MachineAt = 0;
constexpr uint64_t NumberOfSectionsAt = 2;
constexpr uint64_t PointerToSymbolTableAt = 8;
constexpr uint64_t NumberOfSymbolsAt = 12;
constexpr uint64_t SizeOfOptionalHeaderAt = 16;
constexpr uint64_t CharacteristicsAt = 18;
constexpr uint16_t LibraryFlag = 0x2000; // IMAGE_FILE_DLL
constexpr uint64_t SymbolSize = 18;
constexpr uint64_t StringTableLengthSize = 4;
// In the optional header: the two kinds differ from the image base on.
constexpr uint16_t Magic32 = 0x10B;
constexpr uint16_t Magic64 = 0x20B;
constexpr uint64_t SectionAlignmentAt = 32;
constexpr uint64_t FileAlignmentAt = 36;
constexpr uint64_t LargestFileAlignment = 64 * 1024;
constexpr uint64_t SizeOfImageAt = 56;
constexpr uint64_t SizeOfHeadersAt = 60;
constexpr uint64_t SubsystemAt = 68;
constexpr uint16_t NativeSubsystem = 1;
constexpr uint64_t DirectoryCountAt32 = 92;
constexpr uint64_t DirectoryCountAt64 = 108;
constexpr uint64_t DirectorySize = 8;
constexpr uint64_t MaxDirectories = 16;
constexpr uint64_t CertificateDirectory = 4;
constexpr uint64_t CertificateAlignment = 8;
// In a section header.
constexpr uint64_t SectionHeaderSize = 40;
constexpr uint64_t VirtualSizeAt = 8;
constexpr uint64_t VirtualAddressAt = 12;
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

// AValue rounded up to a multiple of AAlignment, a power of two.
uint64_t AlignUp(uint64_t AValue, uint64_t AAlignment) {
    return (AValue + AAlignment - 1) & ~(AAlignment - 1);
}

bool IsPowerOfTwo(uint32_t AValue) {
    return AValue != 0 && (AValue & (AValue - 1)) == 0;
}

bool IsZeros(std::string_view ABytes) {
    return std::all_of(ABytes.begin(), ABytes.end(), [](char c) { return c == '\0'; });
}

// Where the file header and the optional header begin, when the bytes hold
// the DOS header and the PE signature.
bool FindHeaders(const TBytes& ABytes, uint64_t& AFileHeader, uint64_t& AOptional) {
    using namespace Layout;
    uint16_t dosMagic = 0;
    uint32_t peOffset = 0, signature = 0;
    if (!ABytes.Holds(0, DOSHeaderSize) || !ABytes.U16(DOSMagicAt, dosMagic) ||
        dosMagic != 0x5A4D || !ABytes.U32(PEHeaderOffsetAt, peOffset))
        return false;
    AFileHeader = uint64_t{peOffset} + SignatureSize;
    AOptional = AFileHeader + FileHeaderSize;
    return ABytes.Holds(peOffset, SignatureSize + FileHeaderSize) &&
           ABytes.U32(peOffset, signature) && signature == 0x00004550;
}

} // namespace

std::optional<TPEImageKind> PEImageKind(std::string_view ABytes) {
    using namespace Layout;
    const TBytes bytes(ABytes);
    uint64_t fileHeader = 0, optional = 0;
    uint16_t magic = 0, characteristics = 0, subsystem = 0;
    TPEImageKind kind;
    if (!FindHeaders(bytes, fileHeader, optional) || !bytes.U16(optional, magic) ||
        (magic != Magic32 && magic != Magic64) ||
        !bytes.U16(fileHeader + MachineAt, kind.Machine) ||
        !bytes.U16(fileHeader + CharacteristicsAt, characteristics) ||
        !bytes.U16(optional + SubsystemAt, subsystem))
        return std::nullopt;
    kind.Library = (characteristics & LibraryFlag) != 0;
    kind.Driver = subsystem == NativeSubsystem;
    return kind;
}

TPEImageFault CheckPEImage(std::string_view ABytes) {
    using namespace Layout;
    const TBytes bytes(ABytes);

    uint16_t dosMagic = 0;
    uint32_t peOffset = 0;
    if (!bytes.Holds(0, DOSHeaderSize) || !bytes.U16(DOSMagicAt, dosMagic) || dosMagic != 0x5A4D ||
        !bytes.U32(PEHeaderOffsetAt, peOffset))
        return TPEImageFault::pifNoDOSHeader;
    uint64_t fileHeader = 0, optional = 0;
    if (!FindHeaders(bytes, fileHeader, optional))
        return TPEImageFault::pifNoPEHeader;
    uint16_t sectionCount = 0, optionalSize = 0;
    uint32_t symbolTable = 0, symbolCount = 0;
    bytes.U16(fileHeader + NumberOfSectionsAt, sectionCount);
    bytes.U32(fileHeader + PointerToSymbolTableAt, symbolTable);
    bytes.U32(fileHeader + NumberOfSymbolsAt, symbolCount);
    bytes.U16(fileHeader + SizeOfOptionalHeaderAt, optionalSize);

    uint16_t magic = 0;
    if (!bytes.Holds(optional, optionalSize) || !bytes.U16(optional, magic) ||
        (magic != Magic32 && magic != Magic64))
        return TPEImageFault::pifBadOptionalHeader;
    const uint64_t countAt = magic == Magic64 ? DirectoryCountAt64 : DirectoryCountAt32;
    const uint64_t directories = countAt + 4;
    uint32_t headersSize = 0, directoryCount = 0, sectionAlignment = 0, fileAlignment = 0,
             imageSize = 0;
    if (optionalSize < directories || !bytes.U32(optional + SizeOfHeadersAt, headersSize) ||
        !bytes.U32(optional + countAt, directoryCount))
        return TPEImageFault::pifBadOptionalHeader;
    bytes.U32(optional + SectionAlignmentAt, sectionAlignment);
    bytes.U32(optional + FileAlignmentAt, fileAlignment);
    bytes.U32(optional + SizeOfImageAt, imageSize);
    // The loader looks at no more than sixteen directories; those it looks
    // at must lie within the optional header.
    const uint64_t usedDirectories =
        directoryCount < MaxDirectories ? directoryCount : MaxDirectories;
    if (directories + usedDirectories * DirectorySize > optionalSize)
        return TPEImageFault::pifBadOptionalHeader;

    const uint64_t sections = optional + optionalSize;
    const uint64_t sectionTableEnd = sections + uint64_t{sectionCount} * SectionHeaderSize;
    if (!bytes.Holds(sections, uint64_t{sectionCount} * SectionHeaderSize) ||
        !bytes.Holds(0, headersSize))
        return TPEImageFault::pifHeadersCut;
    // Where the body ends in the file, and where the sections end in memory.
    uint64_t bodyEnd = sectionTableEnd > headersSize ? sectionTableEnd : headersSize;
    uint64_t memoryEnd = headersSize;
    bool sectionData = false;
    for (uint64_t i = 0; i < sectionCount; ++i) {
        const uint64_t header = sections + i * SectionHeaderSize;
        uint32_t rawSize = 0, rawOffset = 0, virtualSize = 0, virtualAddress = 0;
        bytes.U32(header + SizeOfRawDataAt, rawSize);
        bytes.U32(header + PointerToRawDataAt, rawOffset);
        bytes.U32(header + VirtualSizeAt, virtualSize);
        bytes.U32(header + VirtualAddressAt, virtualAddress);
        if (rawSize != 0 && !bytes.Holds(rawOffset, rawSize))
            return TPEImageFault::pifSectionCut;
        if (rawSize != 0) {
            sectionData = true;
            bodyEnd = std::max(bodyEnd, uint64_t{rawOffset} + rawSize);
        }
        // A section without a virtual size takes its raw size in memory.
        memoryEnd = std::max(memoryEnd,
                             uint64_t{virtualAddress} + (virtualSize != 0 ? virtualSize : rawSize));
    }

    // The certificate table's address is a file offset, not a virtual one.
    uint64_t certificatesEnd = 0;
    if (usedDirectories > CertificateDirectory) {
        const uint64_t entry = optional + directories + CertificateDirectory * DirectorySize;
        uint32_t certificateOffset = 0, certificateSize = 0;
        bytes.U32(entry, certificateOffset);
        bytes.U32(entry + 4, certificateSize);
        if (certificateSize != 0 &&
            (certificateOffset == 0 || !bytes.Holds(certificateOffset, certificateSize)))
            return TPEImageFault::pifCertificatesCut;
        if (certificateSize != 0)
            certificatesEnd = uint64_t{certificateOffset} + certificateSize;
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
        bodyEnd =
            std::max(bodyEnd, strings + std::max<uint64_t>(stringsSize, StringTableLengthSize));
    }

    if (!sectionData)
        return TPEImageFault::pifNoSectionData;
    // The loader maps SizeOfImage bytes, a multiple of the section
    // alignment: no less than the sections take, and no more than the
    // alignment adds to that.
    if (!IsPowerOfTwo(sectionAlignment) || imageSize < memoryEnd ||
        imageSize > AlignUp(memoryEnd, sectionAlignment))
        return TPEImageFault::pifBadImageSize;
    // Signing tools pad the certificate table to its alignment, and some
    // leave the padding out of its size.
    const uint64_t end = std::max(bodyEnd, AlignUp(certificatesEnd, CertificateAlignment));
    // Linkers may pad the file to its file alignment after its last part
    // (LLVM's lld does, after the COFF string table). Padding is zeros, and
    // no more than the alignment asks for; anything else after the body is
    // not part of the image.
    const bool validAlignment =
        IsPowerOfTwo(fileAlignment) && fileAlignment <= LargestFileAlignment;
    const uint64_t paddedEnd = validAlignment ? AlignUp(end, fileAlignment) : end;
    if (bytes.Size() > paddedEnd || !IsZeros(ABytes.substr(std::min(end, bytes.Size()))))
        return TPEImageFault::pifTrailingBytes;
    return TPEImageFault::pifNone;
}

bool SuitsKind(const TPEImageKind& AImage, const TPEImageKind& AKind) {
    // The kernel loads a driver whether or not it is marked as a library
    // (GNU ld marks the drivers it links as shared images so).
    return AImage.Machine == AKind.Machine && AImage.Driver == AKind.Driver &&
           (AKind.Driver || AImage.Library == AKind.Library);
}

TPEImageFault CheckReplacementImage(std::string_view ANew, const TPEImageKind& AKind) {
    const TPEImageFault fault = CheckPEImage(ANew);
    if (fault != TPEImageFault::pifNone)
        return fault;
    const std::optional<TPEImageKind> kind = PEImageKind(ANew);
    return kind && SuitsKind(*kind, AKind) ? TPEImageFault::pifNone : TPEImageFault::pifOtherKind;
}
