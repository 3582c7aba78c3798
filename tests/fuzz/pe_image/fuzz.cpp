// The headers' reader and the whole-image check on any bytes: they never read
// outside them, and bytes whose headers cannot be read hold no kind. An image it
// takes for whole has a kind, may take the place of a file of that kind, and
// is whole no more with a byte that is no padding after it, nor with zeros
// beyond any file alignment; bytes spoilt otherwise than by what follows
// their body hold no whole image in all but their last byte either.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fileinfo/PEHeaders.h"
#include "fileinfo/PEImage.h"
#include "tests/fuzz/FuzzRequire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const std::string_view bytes(reinterpret_cast<const char*>(AData), ASize);
    TPEHeaders headers;
    const TPEHeadersFault headersFault = ReadPEHeaders(BytesPEReader(bytes), headers);
    Require(PEImageKind(bytes).has_value() == (headersFault == TPEHeadersFault::phNone));
    if (std::vector<TPESection> sections; headersFault == TPEHeadersFault::phNone &&
                                          ReadPESections(BytesPEReader(bytes), headers, sections))
        Require(sections.size() == headers.NumberOfSections);
    const TPEImageFault fault = CheckPEImage(bytes);
    if (fault == TPEImageFault::pifNone) {
        const std::optional<TPEImageKind> kind = PEImageKind(bytes);
        Require(kind.has_value());
        Require(CheckReplacementImage(bytes, *kind) == TPEImageFault::pifNone);
        // Past the certificate table's own padding, of at most 7 bytes.
        Require(CheckPEImage(std::string(bytes) + std::string(8, '\0') + "x") ==
                TPEImageFault::pifTrailingBytes);
        std::string longer(bytes);
        longer.append(64 * 1024, '\0');
        Require(CheckPEImage(longer) == TPEImageFault::pifTrailingBytes);
    } else if (fault != TPEImageFault::pifTrailingBytes && !bytes.empty())
        Require(!IsCompletePEImage(bytes.substr(0, bytes.size() - 1)));
    return 0;
}
