#include "hook/ExportTable.h"

#include <cstring>
#include <vector>

namespace {

// Offsets in the export directory, in bytes.
constexpr uint32_t ExportDirectorySize = 40; // IMAGE_EXPORT_DIRECTORY
constexpr uint32_t ExportOrdinalBase = 16;   // Base
constexpr uint32_t ExportFunctionCount = 20; // NumberOfFunctions
constexpr uint32_t ExportNameCount = 24;     // NumberOfNames
constexpr uint32_t ExportFunctions = 28;     // AddressOfFunctions
constexpr uint32_t ExportNames = 32;         // AddressOfNames
constexpr uint32_t ExportNameOrdinals = 36;  // AddressOfNameOrdinals
// Ordinals are 16-bit: no table of the loader's holds more entries.
constexpr uint32_t MaxExports = 0x10000;
// Longer forwarders than this are not taken as text.
constexpr size_t MaxForwarderLength = 512;

bool Read16(const TImageReader& ARead, uint64_t ARva, uint16_t& AValue) {
    uint8_t bytes[2];
    if (ARva > UINT32_MAX || !ARead(static_cast<uint32_t>(ARva), bytes, sizeof(bytes)))
        return false;
    AValue = PEUInt16(bytes);
    return true;
}

bool Read32(const TImageReader& ARead, uint64_t ARva, uint32_t& AValue) {
    uint8_t bytes[4];
    if (ARva > UINT32_MAX || !ARead(static_cast<uint32_t>(ARva), bytes, sizeof(bytes)))
        return false;
    AValue = PEUInt32(bytes);
    return true;
}

struct TExportDirectory {
    uint32_t Rva = 0;
    uint32_t Size = 0;
    uint32_t OrdinalBase = 0;
    uint32_t FunctionCount = 0;
    uint32_t NameCount = 0;
    uint32_t Functions = 0;
    uint32_t Names = 0;
    uint32_t NameOrdinals = 0;
};

bool ReadExportDirectory(const TImageReader& ARead, TExportDirectory& ADirectory) {
    TImageHeaders headers;
    if (!ReadImageHeaders(ARead, headers) || headers.ExportRva == 0 ||
        headers.ExportSize < ExportDirectorySize)
        return false;
    uint8_t bytes[ExportDirectorySize];
    if (!ARead(headers.ExportRva, bytes, sizeof(bytes)))
        return false;
    ADirectory.Rva = headers.ExportRva;
    ADirectory.Size = headers.ExportSize;
    ADirectory.OrdinalBase = PEUInt32(bytes + ExportOrdinalBase);
    ADirectory.FunctionCount = PEUInt32(bytes + ExportFunctionCount);
    ADirectory.NameCount = PEUInt32(bytes + ExportNameCount);
    ADirectory.Functions = PEUInt32(bytes + ExportFunctions);
    ADirectory.Names = PEUInt32(bytes + ExportNames);
    ADirectory.NameOrdinals = PEUInt32(bytes + ExportNameOrdinals);
    return ADirectory.FunctionCount <= MaxExports && ADirectory.NameCount <= MaxExports;
}

// A zero-terminated text of at most AMaximum characters at ARva. Read in one
// piece where possible; near the end of what can be read, byte by byte.
bool ReadText(const TImageReader& ARead, uint32_t ARva, size_t AMaximum, std::string& AText) {
    std::vector<char> buffer(AMaximum + 1);
    const uint64_t end = static_cast<uint64_t>(ARva) + buffer.size();
    if (end <= static_cast<uint64_t>(UINT32_MAX) + 1 && ARead(ARva, buffer.data(), buffer.size())) {
        const void* zero = std::memchr(buffer.data(), 0, buffer.size());
        if (!zero)
            return false;
        AText.assign(buffer.data(),
                     static_cast<size_t>(static_cast<const char*>(zero) - buffer.data()));
        return true;
    }
    AText.clear();
    for (size_t i = 0; i <= AMaximum; ++i) {
        char c = 0;
        if (static_cast<uint64_t>(ARva) + i > UINT32_MAX ||
            !ARead(static_cast<uint32_t>(ARva + i), &c, 1))
            return false;
        if (c == 0)
            return true;
        AText += c;
    }
    return false;
}

// The entry of the address table at AIndex: an address, or a forwarder when
// it points into the export directory itself.
TExport ExportAt(const TImageReader& ARead, const TExportDirectory& ADirectory, uint32_t AIndex) {
    TExport result;
    uint32_t rva = 0;
    if (AIndex >= ADirectory.FunctionCount ||
        !Read32(ARead, ADirectory.Functions + static_cast<uint64_t>(AIndex) * 4, rva) || rva == 0)
        return result;
    if (rva >= ADirectory.Rva && rva - ADirectory.Rva < ADirectory.Size) {
        if (ReadText(ARead, rva, MaxForwarderLength, result.Forwarder) && !result.Forwarder.empty())
            result.Kind = ekForwarded;
        else
            result.Forwarder.clear();
        return result;
    }
    result.Kind = ekAddress;
    result.Rva = rva;
    return result;
}

// How the name at ARva sorts against AName: below zero, zero or above zero,
// as strcmp would say; false when it cannot be read.
bool CompareName(const TImageReader& ARead, uint32_t ARva, std::string_view AName, int& AOrder) {
    std::string name;
    if (!ReadText(ARead, ARva, AName.size() + 1, name)) {
        // Longer than the name sought: only its first characters matter.
        std::vector<uint8_t> prefix(AName.size() + 1);
        if (!ARead(ARva, prefix.data(), prefix.size()))
            return false;
        name.assign(prefix.begin(), prefix.end());
    }
    const size_t common = name.size() < AName.size() ? name.size() : AName.size();
    for (size_t i = 0; i < common; ++i) {
        const auto a = static_cast<uint8_t>(name[i]);
        const auto b = static_cast<uint8_t>(AName[i]);
        if (a != b) {
            AOrder = a < b ? -1 : 1;
            return true;
        }
    }
    AOrder = name.size() == AName.size() ? 0 : (name.size() < AName.size() ? -1 : 1);
    return true;
}

bool ValidSectionSpan(uint32_t AStart, uint32_t ASize, size_t AFileSize) {
    return static_cast<uint64_t>(AStart) + ASize <= AFileSize;
}

// The headers through an image reader: they lie at the start of the image,
// where an offset is an RVA.
TPEReader HeaderReader(const TImageReader& ARead) {
    return [&ARead](uint64_t AOffset, void* ABuffer, size_t ASize) {
        return AOffset <= UINT32_MAX && ARead(static_cast<uint32_t>(AOffset), ABuffer, ASize);
    };
}

} // namespace

bool ReadImageHeaders(const TImageReader& ARead, TImageHeaders& AHeaders) {
    TPEHeaders headers;
    if (ReadPEHeaders(HeaderReader(ARead), headers) != TPEHeadersFault::phNone)
        return false;
    const TPEDirectory exports = headers.Directory(PEExportDirectory);
    if (exports.Address != 0 && static_cast<uint64_t>(exports.Address) + exports.Size > UINT32_MAX)
        return false;
    AHeaders = TImageHeaders{};
    AHeaders.Machine = headers.Machine;
    AHeaders.Is64Bit = headers.Is64Bit;
    AHeaders.ExportRva = exports.Address;
    AHeaders.ExportSize = exports.Address ? exports.Size : 0;
    return true;
}

TExport FindExport(const TImageReader& ARead, std::string_view AName) {
    TExportDirectory directory;
    if (AName.empty() || AName.find('\0') != std::string_view::npos ||
        !ReadExportDirectory(ARead, directory))
        return {};
    uint32_t low = 0;
    uint32_t high = directory.NameCount;
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        uint32_t nameRva = 0;
        int order = 0;
        if (!Read32(ARead, directory.Names + static_cast<uint64_t>(middle) * 4, nameRva) ||
            !CompareName(ARead, nameRva, AName, order))
            return {};
        if (order == 0) {
            uint16_t index = 0;
            if (!Read16(ARead, directory.NameOrdinals + static_cast<uint64_t>(middle) * 2, index))
                return {};
            return ExportAt(ARead, directory, index);
        }
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return {};
}

TExport FindExportByOrdinal(const TImageReader& ARead, uint32_t AOrdinal) {
    TExportDirectory directory;
    if (!ReadExportDirectory(ARead, directory) || AOrdinal < directory.OrdinalBase)
        return {};
    return ExportAt(ARead, directory, AOrdinal - directory.OrdinalBase);
}

bool SplitForwarder(std::string_view AForwarder, TForwarder& AResult) {
    const size_t dot = AForwarder.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == AForwarder.size())
        return false;
    TForwarder result;
    result.ModuleFile = std::string(AForwarder.substr(0, dot));
    if (result.ModuleFile.find('.') == std::string::npos)
        result.ModuleFile += ".dll";
    const std::string_view target = AForwarder.substr(dot + 1);
    if (target[0] == '#') {
        if (target.size() < 2 || target.size() > 6)
            return false;
        uint32_t ordinal = 0;
        for (char c : target.substr(1)) {
            if (c < '0' || c > '9')
                return false;
            ordinal = ordinal * 10 + static_cast<uint32_t>(c - '0');
        }
        if (ordinal > 0xFFFF)
            return false;
        result.Ordinal = ordinal;
    } else {
        result.Name = std::string(target);
    }
    AResult = std::move(result);
    return true;
}

TImageReader LoadedImageReader(const uint8_t* AData, size_t ASize) {
    return [AData, ASize](uint32_t ARva, void* ABuffer, size_t ACount) {
        if (ARva > ASize || ACount > ASize - ARva)
            return false;
        std::memcpy(ABuffer, AData + ARva, ACount);
        return true;
    };
}

TImageReader FileImageReader(const uint8_t* AData, size_t ASize) {
    struct TSection {
        uint32_t Rva;
        uint32_t Size;
        uint32_t FileOffset;
    };
    std::vector<TSection> sections;
    uint32_t headersSize = 0;
    // The headers lie at the same place in the file and in the image.
    const TPEReader raw =
        BytesPEReader(std::string_view(reinterpret_cast<const char*>(AData), ASize));
    TPEHeaders headers;
    std::vector<TPESection> table;
    if (ReadPEHeaders(raw, headers) == TPEHeadersFault::phNone &&
        ReadPESections(raw, headers, table)) {
        headersSize = headers.SizeOfHeaders;
        for (const TPESection& entry : table) {
            TSection section{entry.VirtualAddress,
                             entry.VirtualSize < entry.SizeOfRawData && entry.VirtualSize != 0
                                 ? entry.VirtualSize
                                 : entry.SizeOfRawData,
                             entry.PointerToRawData};
            if (ValidSectionSpan(section.FileOffset, section.Size, ASize))
                sections.push_back(section);
        }
    }
    if (headersSize > ASize)
        headersSize = static_cast<uint32_t>(ASize);
    return [AData, headersSize, sections](uint32_t ARva, void* ABuffer, size_t ACount) {
        const uint64_t end = static_cast<uint64_t>(ARva) + ACount;
        if (end <= headersSize) {
            std::memcpy(ABuffer, AData + ARva, ACount);
            return true;
        }
        for (const TSection& section : sections) {
            if (ARva >= section.Rva && end <= static_cast<uint64_t>(section.Rva) + section.Size) {
                std::memcpy(ABuffer, AData + section.FileOffset + (ARva - section.Rva), ACount);
                return true;
            }
        }
        return false;
    };
}
