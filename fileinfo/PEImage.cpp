#include "fileinfo/PEImage.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fileinfo/PEHeaders.h"

namespace {

constexpr uint64_t LargestFileAlignment = 64 * 1024;
constexpr uint64_t StringTableLengthSize = 4;
constexpr uint64_t CertificateAlignment = 8;

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

// Whether ABytes hold ACount bytes at AOffset. All offsets are 64-bit sums of
// 32-bit fields, which cannot overflow.
bool Holds(std::string_view ABytes, uint64_t AOffset, uint64_t ACount) {
    return AOffset <= ABytes.size() && ACount <= ABytes.size() - AOffset;
}

} // namespace

std::optional<TPEImageKind> PEImageKind(std::string_view ABytes) {
    TPEHeaders headers;
    if (ReadPEHeaders(BytesPEReader(ABytes), headers) != TPEHeadersFault::phNone)
        return std::nullopt;
    return TPEImageKind{headers.Machine, headers.IsLibrary(), headers.IsDriver()};
}

TPEImageFault CheckPEImage(std::string_view ABytes) {
    const TPEReader read = BytesPEReader(ABytes);
    TPEHeaders headers;
    switch (ReadPEHeaders(read, headers)) {
    case TPEHeadersFault::phNone:
        break;
    case TPEHeadersFault::phNoDOSHeader:
        return TPEImageFault::pifNoDOSHeader;
    case TPEHeadersFault::phNoPEHeader:
        return TPEImageFault::pifNoPEHeader;
    case TPEHeadersFault::phBadOptionalHeader:
        return TPEImageFault::pifBadOptionalHeader;
    }

    const uint64_t sectionTableEnd =
        headers.SectionTableAt + uint64_t{headers.NumberOfSections} * PESectionHeaderSize;
    std::vector<TPESection> sections;
    if (!ReadPESections(read, headers, sections) || !Holds(ABytes, 0, headers.SizeOfHeaders))
        return TPEImageFault::pifHeadersCut;
    // Where the body ends in the file, and where the sections end in memory.
    uint64_t bodyEnd = std::max<uint64_t>(sectionTableEnd, headers.SizeOfHeaders);
    uint64_t memoryEnd = headers.SizeOfHeaders;
    bool sectionData = false;
    for (const TPESection& section : sections) {
        if (section.SizeOfRawData != 0 &&
            !Holds(ABytes, section.PointerToRawData, section.SizeOfRawData))
            return TPEImageFault::pifSectionCut;
        if (section.SizeOfRawData != 0) {
            sectionData = true;
            bodyEnd = std::max(bodyEnd, uint64_t{section.PointerToRawData} + section.SizeOfRawData);
        }
        // A section without a virtual size takes its raw size in memory.
        memoryEnd = std::max(memoryEnd, uint64_t{section.VirtualAddress} +
                                            (section.VirtualSize != 0 ? section.VirtualSize
                                                                      : section.SizeOfRawData));
    }

    // The certificate table's address is a file offset, not a virtual one.
    uint64_t certificatesEnd = 0;
    const TPEDirectory certificates = headers.Directory(PECertificateDirectory);
    if (certificates.Size != 0) {
        if (certificates.Address == 0 || !Holds(ABytes, certificates.Address, certificates.Size))
            return TPEImageFault::pifCertificatesCut;
        certificatesEnd = uint64_t{certificates.Address} + certificates.Size;
    }

    // A COFF symbol table (left in by some linkers) ends the file, followed
    // by its string table, whose first four bytes give its length.
    if (headers.PointerToSymbolTable != 0) {
        const uint64_t symbols = headers.PointerToSymbolTable;
        const uint64_t strings = symbols + uint64_t{headers.NumberOfSymbols} * PESymbolSize;
        unsigned char length[StringTableLengthSize];
        if (!Holds(ABytes, symbols, uint64_t{headers.NumberOfSymbols} * PESymbolSize) ||
            !read(strings, length, sizeof(length)))
            return TPEImageFault::pifSymbolsCut;
        const uint64_t stringsSize = PEUInt32(length);
        if (stringsSize > StringTableLengthSize && !Holds(ABytes, strings, stringsSize))
            return TPEImageFault::pifSymbolsCut;
        bodyEnd = std::max(bodyEnd, strings + std::max(stringsSize, StringTableLengthSize));
    }

    if (!sectionData)
        return TPEImageFault::pifNoSectionData;
    // The loader maps SizeOfImage bytes, a multiple of the section
    // alignment: no less than the sections take, and no more than the
    // alignment adds to that.
    if (!IsPowerOfTwo(headers.SectionAlignment) || headers.SizeOfImage < memoryEnd ||
        headers.SizeOfImage > AlignUp(memoryEnd, headers.SectionAlignment))
        return TPEImageFault::pifBadImageSize;
    // Signing tools pad the certificate table to its alignment, and some
    // leave the padding out of its size.
    const uint64_t end = std::max(bodyEnd, AlignUp(certificatesEnd, CertificateAlignment));
    // Linkers may pad the file to its file alignment after its last part
    // (LLVM's lld does, after the COFF string table). Padding is zeros, and
    // no more than the alignment asks for; anything else after the body is
    // not part of the image.
    const bool validAlignment =
        IsPowerOfTwo(headers.FileAlignment) && headers.FileAlignment <= LargestFileAlignment;
    const uint64_t paddedEnd = validAlignment ? AlignUp(end, headers.FileAlignment) : end;
    if (ABytes.size() > paddedEnd ||
        !IsZeros(ABytes.substr(std::min<uint64_t>(end, ABytes.size()))))
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
