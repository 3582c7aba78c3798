// The version-block walker on any bytes, as a file's version resource may
// hold them: the translation list and every lookup through it stay inside
// the block, and the first value found is one of the translations' values.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "../../fileinfo/VersionBlock.h"
#include "tests/fuzz/FuzzRequire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const std::span<const uint8_t> block(AData, ASize);
    const std::vector<TVersionTranslation> translations = VersionTranslations(block);
    Require(translations.size() <= ASize / 4);
    bool anyValue = false;
    for (const TVersionTranslation& translation : translations) {
        const std::optional<std::wstring> value =
            VersionBlockString(block, translation, L"FileVersion");
        if (value) {
            Require(value->size() <= ASize / 2);
            Require(value->find(L'\0') == std::wstring::npos);
            anyValue = anyValue || !value->empty();
        }
    }
    std::wstring text = L"kept";
    Require(FirstVersionString(block, L"FileVersion", text) == anyValue);
    Require(anyValue ? !text.empty() : text == L"kept");
    return 0;
}
