// The export table of a PE image, read from bytes that come from outside
// (another process's memory, a file): every offset and count in them is
// checked before it is followed, and a read that leaves the image fails.
// Free of platform headers; the PE structures are described here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "fileinfo/PEHeaders.h"

// Reads ASize bytes of an image at the relative virtual address ARva into
// ABuffer; false unless every one of them could be read.
using TImageReader = std::function<bool(uint32_t ARva, void* ABuffer, size_t ASize)>;

struct TImageHeaders {
    uint16_t Machine = PEMachineUnknown;
    // PE32+ (64-bit optional header) rather than PE32.
    bool Is64Bit = false;
    // The export directory; both zero when the image has none.
    uint32_t ExportRva = 0;
    uint32_t ExportSize = 0;
};

// The headers of the image: "MZ", "PE\0\0" and an optional header of either
// kind; false when they are not there or do not fit together.
bool ReadImageHeaders(const TImageReader& ARead, TImageHeaders& AHeaders);

enum TExportKind {
    ekNone,      // no such export, or a table that cannot be read
    ekAddress,   // exported at Rva
    ekForwarded, // passed on to another module: Forwarder ("NTDLL.RtlEnterCriticalSection")
};

struct TExport {
    TExportKind Kind = ekNone;
    uint32_t Rva = 0;
    std::string Forwarder;
};

// The export of that name. Names are looked up by binary search, as the
// system's loader does, so a table whose names are not sorted misses them
// as the loader would.
TExport FindExport(const TImageReader& ARead, std::string_view AName);
// The export of that ordinal (ordinal base included).
TExport FindExportByOrdinal(const TImageReader& ARead, uint32_t AOrdinal);

// A forwarder "module.name" or "module.#ordinal": the module's file name
// (".dll" appended when it names no extension) and the name or the ordinal.
struct TForwarder {
    std::string ModuleFile;
    std::string Name;     // empty when by ordinal
    uint32_t Ordinal = 0; // used when Name is empty
};
bool SplitForwarder(std::string_view AForwarder, TForwarder& AResult);

// Readers over bytes held in memory, which must outlive them: an image laid
// out as loaded (an RVA is an offset), or a file as stored on disk (RVAs go
// through its section table).
TImageReader LoadedImageReader(const uint8_t* AData, size_t ASize);
TImageReader FileImageReader(const uint8_t* AData, size_t ASize);
