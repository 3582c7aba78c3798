// The headers of a PE image (a program, library or driver), read from bytes
// that come from outside: a download, a file, another process's memory. Every
// offset and count in them is checked before it is followed. Pure, and free
// of the platform's headers: the layout is described here, so that the one
// reader can be fuzzed natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

// Reads ASize bytes at AOffset from the start of the image into ABuffer;
// false unless every one of them could be read. The headers lie at the same
// offsets in a file and in an image as loaded.
using TPEReader = std::function<bool(uint64_t AOffset, void* ABuffer, std::size_t ASize)>;

// A reader over bytes in memory, which must outlive it.
TPEReader BytesPEReader(std::string_view ABytes);

// What keeps bytes from holding PE headers, the first found in file order.
enum class TPEHeadersFault {
    phNone,
    phNoDOSHeader,       // shorter than the DOS header, or no "MZ"
    phNoPEHeader,        // the PE header's offset points outside, or no "PE\0\0"
    phBadOptionalHeader, // cut, of an unknown kind, or too small for its directories
};

// Machine numbers of the PE file header.
inline constexpr uint16_t PEMachineUnknown = 0;
inline constexpr uint16_t PEMachineI386 = 0x014C;
inline constexpr uint16_t PEMachineARMNT = 0x01C4;
inline constexpr uint16_t PEMachineAMD64 = 0x8664;
inline constexpr uint16_t PEMachineARM64 = 0xAA64;
inline constexpr uint16_t PEMachineARM64EC = 0xA641;

// The little-endian numbers every PE structure is made of.
inline uint16_t PEUInt16(const unsigned char* AData) {
    return static_cast<uint16_t>(AData[0] | AData[1] << 8);
}
inline uint32_t PEUInt32(const unsigned char* AData) {
    return static_cast<uint32_t>(PEUInt16(AData)) | static_cast<uint32_t>(PEUInt16(AData + 2))
                                                        << 16;
}

// The loader looks at no more than sixteen data directories.
inline constexpr uint32_t PEMaxDirectories = 16;
inline constexpr uint32_t PEExportDirectory = 0;
inline constexpr uint32_t PECertificateDirectory = 4; // its address is a file offset
inline constexpr uint16_t PEFileIsLibrary = 0x2000;   // IMAGE_FILE_DLL
inline constexpr uint16_t PESubsystemNative = 1;      // drivers
inline constexpr uint16_t PESubsystemConsole = 3;     // IMAGE_SUBSYSTEM_WINDOWS_CUI
inline constexpr uint64_t PESectionHeaderSize = 40;
inline constexpr uint64_t PESymbolSize = 18;

struct TPEDirectory {
    uint32_t Address = 0; // a relative virtual address, a file offset for the certificates
    uint32_t Size = 0;
};

struct TPESection {
    uint32_t VirtualSize = 0;
    uint32_t VirtualAddress = 0;
    uint32_t SizeOfRawData = 0;
    uint32_t PointerToRawData = 0;
};

struct TPEHeaders {
    // The file header.
    uint16_t Machine = 0;
    uint16_t NumberOfSections = 0;
    uint32_t PointerToSymbolTable = 0;
    uint32_t NumberOfSymbols = 0;
    uint16_t SizeOfOptionalHeader = 0;
    uint16_t Characteristics = 0;
    // The optional header: PE32+ (64-bit) or PE32.
    bool Is64Bit = false;
    uint32_t SectionAlignment = 0;
    uint32_t FileAlignment = 0;
    uint32_t SizeOfImage = 0;
    uint32_t SizeOfHeaders = 0;
    uint16_t Subsystem = 0;
    // The directories the loader looks at: the first of those the header
    // declares, sixteen at most.
    std::vector<TPEDirectory> Directories;
    // Where the section table begins, right after the optional header.
    uint64_t SectionTableAt = 0;

    bool IsLibrary() const { return (Characteristics & PEFileIsLibrary) != 0; }
    bool IsDriver() const { return Subsystem == PESubsystemNative; }
    // The directory AIndex, empty when the image has none there.
    TPEDirectory Directory(uint32_t AIndex) const {
        return AIndex < Directories.size() ? Directories[AIndex] : TPEDirectory{};
    }
};

// Reads the DOS header, the PE signature, the file header and the whole
// optional header with its directories.
TPEHeadersFault ReadPEHeaders(const TPEReader& ARead, TPEHeaders& AHeaders);

// The section table the headers declare; false when any of its headers
// cannot be read.
bool ReadPESections(const TPEReader& ARead, const TPEHeaders& AHeaders,
                    std::vector<TPESection>& ASections);
