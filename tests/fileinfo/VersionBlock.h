// The walk through a version information block (VS_VERSIONINFO) as the
// platform's version API hands it over: nodes of a length, a value length,
// a type, a zero-terminated UTF-16 key, the value and the child nodes, each
// part aligned to 32 bits from the block's start. Not the product's reader
// (that asks the version API): an oracle beside the platform, fuzzed natively.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct TVersionTranslation {
    std::uint16_t Language = 0;
    std::uint16_t CodePage = 0;
};

// The name of a translation's string table: language and code page as four
// upper-case hexadecimal digits each ("040904B0").
std::wstring VersionTableKey(TVersionTranslation ATranslation);

// The list "\VarFileInfo\Translation" in the order stored; empty without one.
std::vector<TVersionTranslation> VersionTranslations(std::span<const std::uint8_t> ABlock);

// The text of "\StringFileInfo\" language code page "\" AValueName up to its
// first zero (keys compared ignoring ASCII letter case); none without such a
// node. A length that runs past its parent or the block is cut there.
std::optional<std::wstring> VersionBlockString(std::span<const std::uint8_t> ABlock,
                                               TVersionTranslation ATranslation,
                                               std::wstring_view AValueName);

// The first non-empty value AValueName of the translations, in the order
// stored; AText is left as it was when there is none.
bool FirstVersionString(std::span<const std::uint8_t> ABlock, std::wstring_view AValueName,
                        std::wstring& AText);
