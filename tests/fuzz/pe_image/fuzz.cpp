// The whole-image check on any bytes: it never reads outside them, and an
// image it takes for whole stays whole with bytes appended (a signature's
// padding, an overlay), while bytes that are no whole image hold none in all
// but their last byte either.
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzRequire.h"
#include "PEImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const std::string_view bytes(reinterpret_cast<const char*>(AData), ASize);
    const TPEImageFault fault = CheckPEImage(bytes);
    if (fault == TPEImageFault::pifNone) {
        std::string longer(bytes);
        longer.append(16, '\0');
        Require(IsCompletePEImage(longer));
    } else if (!bytes.empty())
        Require(!IsCompletePEImage(bytes.substr(0, bytes.size() - 1)));
    return 0;
}
