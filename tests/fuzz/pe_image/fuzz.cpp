// The whole-image check on any bytes: it never reads outside them. An image it
// takes for whole has a kind, may take its own place, and is whole no more
// with bytes appended; bytes spoilt otherwise than by what follows their body
// hold no whole image in all but their last byte either.
#include <cstdint>
#include <string>
#include <string_view>

#include "fileinfo/PEImage.h"
#include "tests/fuzz/FuzzRequire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const std::string_view bytes(reinterpret_cast<const char*>(AData), ASize);
    const TPEImageFault fault = CheckPEImage(bytes);
    Require(CheckReplacementImage(bytes, bytes) == fault);
    if (fault == TPEImageFault::pifNone) {
        Require(PEImageKind(bytes).has_value());
        std::string longer(bytes);
        longer.append(16, '\0');
        Require(CheckPEImage(longer) == TPEImageFault::pifTrailingBytes);
    } else if (fault != TPEImageFault::pifTrailingBytes && !bytes.empty())
        Require(!IsCompletePEImage(bytes.substr(0, bytes.size() - 1)));
    return 0;
}
