// Whether bytes from outside (a download) hold a whole PE image: a program,
// library or driver whose every part its headers declare lies within the
// bytes, and nothing after them. Pure: the bytes are untrusted, every offset
// is checked before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "fileinfo/PEHeaders.h"

// What spoils an image, the first fault found in file order.
enum class TPEImageFault {
    pifNone,              // a whole image
    pifNoDOSHeader,       // shorter than the DOS header, or no "MZ"
    pifNoPEHeader,        // the PE header's offset points outside, or no "PE\0\0"
    pifBadOptionalHeader, // cut, of an unknown kind, or too small for its directories
    pifHeadersCut,        // the section table or the declared header size reaches past the end
    pifSectionCut,        // a section's raw data reaches past the end
    pifCertificatesCut,   // the certificate table reaches past the end
    pifSymbolsCut,        // the COFF symbol table reaches past the end
    pifNoSectionData,     // headers only: no section holds any data
    pifBadImageSize,      // its size in memory is short of its sections or far beyond them
    pifTrailingBytes,     // bytes after the body that are no padding: the image ends before
                          // the bytes do
    pifOtherKind,         // whole, but not of the kind asked for
};

// What an image is for, as the loader tells programs, libraries and drivers
// apart: the machine it runs on, whether it is a library (a DLL), and
// whether it is a driver (the native subsystem).
struct TPEImageKind {
    uint16_t Machine = 0;
    bool Library = false;
    bool Driver = false;
    bool operator==(const TPEImageKind&) const = default;
};

// The kind the headers at the start of ABytes declare; none when they hold
// no PE headers. The rest of the image need not follow.
std::optional<TPEImageKind> PEImageKind(std::string_view ABytes);

// The body of an image ends with the last of its headers, its sections' raw
// data, its COFF symbol and string tables and its certificate table. The
// certificate table may be followed by padding to its 8-byte alignment, and
// the body by zeros up to the file alignment (as LLVM's lld pads after the
// string table); any other byte after the body is no part of the image.
TPEImageFault CheckPEImage(std::string_view ABytes);

inline bool IsCompletePEImage(std::string_view ABytes) {
    return CheckPEImage(ABytes) == TPEImageFault::pifNone;
}

// Whether an image of the kind AImage is one of the kind AKind: of its
// machine, a driver or not, and, unless a driver, a library or not.
bool SuitsKind(const TPEImageKind& AImage, const TPEImageKind& AKind);

// Whether ANew may take the place of a file of the kind AKind: a whole image
// that suits that kind.
TPEImageFault CheckReplacementImage(std::string_view ANew, const TPEImageKind& AKind);
