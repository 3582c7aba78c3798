// The export-table reader on any bytes, as a loaded image and as a file: the
// headers, a lookup by name and by ordinal, and a forwarder's split never read
// outside the bytes, and what they find lies inside the image.
#include <cstdint>
#include <string>
#include <string_view>

#include "hook/ExportTable.h"
#include "tests/fuzz/FuzzRequire.h"

namespace {

void Explore(const TImageReader& ARead, uint32_t AOrdinal) {
    TImageHeaders headers;
    if (!ReadImageHeaders(ARead, headers))
        return;
    for (const std::string_view name : {"LoadLibraryW", "FreeLibrary", "", "A"}) {
        const TExport found = FindExport(ARead, name);
        if (found.Kind == ekForwarded) {
            Require(!found.Forwarder.empty());
            TForwarder forwarder;
            if (SplitForwarder(found.Forwarder, forwarder))
                Require(!forwarder.ModuleFile.empty());
        }
    }
    FindExportByOrdinal(ARead, AOrdinal);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const uint32_t ordinal = ASize > 0 ? AData[0] : 0;
    Explore(LoadedImageReader(AData, ASize), ordinal);
    Explore(FileImageReader(AData, ASize), ordinal);

    TForwarder forwarder;
    const std::string_view text(reinterpret_cast<const char*>(AData), ASize);
    if (SplitForwarder(text, forwarder))
        Require(!forwarder.ModuleFile.empty() && forwarder.ModuleFile.size() <= text.size() + 4);
    return 0;
}
