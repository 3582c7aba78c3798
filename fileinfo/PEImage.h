// Whether bytes from outside (a download) hold a whole PE image: a program,
// library or driver whose every part its headers declare lies within the
// bytes. Pure: the bytes are untrusted, every offset is checked before use.
#pragma once

#include <cstddef>
#include <string_view>

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
};

TPEImageFault CheckPEImage(std::string_view ABytes);

inline bool IsCompletePEImage(std::string_view ABytes) {
    return CheckPEImage(ABytes) == TPEImageFault::pifNone;
}
