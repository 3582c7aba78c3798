#include "tests/fileinfo/VersionBlock.h"

#include <algorithm>
#include <initializer_list>

#include "platform/ASCIICase.h"

namespace {

// One node, its parts as offsets into the block; End is cut to its parent.
struct TNode {
    size_t End = 0;
    std::wstring Key;
    size_t Value = 0;
    size_t ValueEnd = 0;
    size_t Children = 0;
};

size_t Align4(size_t AOffset) {
    return (AOffset + 3) & ~size_t(3);
}

std::uint16_t Word(std::span<const std::uint8_t> ABlock, size_t AOffset) {
    return static_cast<std::uint16_t>(ABlock[AOffset] | (ABlock[AOffset + 1] << 8));
}

// The node at AOffset, which must end by ALimit; none when its head does not fit.
std::optional<TNode> ReadNode(std::span<const std::uint8_t> ABlock, size_t AOffset, size_t ALimit) {
    if (AOffset > ALimit || ALimit - AOffset < 6)
        return std::nullopt;
    const size_t length = Word(ABlock, AOffset);
    const size_t valueLength = Word(ABlock, AOffset + 2);
    const bool text = Word(ABlock, AOffset + 4) == 1;
    if (length < 6)
        return std::nullopt;
    TNode node;
    node.End = ALimit - AOffset < length ? ALimit : AOffset + length;
    size_t at = AOffset + 6;
    while (at + 2 <= node.End) {
        const std::uint16_t unit = Word(ABlock, at);
        at += 2;
        if (unit == 0)
            break;
        node.Key += static_cast<wchar_t>(unit);
    }
    node.Value = std::min(Align4(at), node.End);
    const size_t valueBytes = text ? valueLength * 2 : valueLength;
    node.ValueEnd = node.End - node.Value < valueBytes ? node.End : node.Value + valueBytes;
    node.Children = std::min(Align4(node.Value + valueBytes), node.End);
    return node;
}

bool SameKey(std::wstring_view ALeft, std::wstring_view ARight) {
    return SameIgnoringASCIICase(ALeft, ARight);
}

// The first child of AParent with the key AKey.
std::optional<TNode> FindChild(std::span<const std::uint8_t> ABlock, const TNode& AParent,
                               std::wstring_view AKey) {
    size_t at = AParent.Children;
    while (at < AParent.End) {
        std::optional<TNode> child = ReadNode(ABlock, at, AParent.End);
        if (!child)
            return std::nullopt;
        if (SameKey(child->Key, AKey))
            return child;
        at = Align4(child->End);
    }
    return std::nullopt;
}

// The node at the end of APath from the block's root.
std::optional<TNode> FindPath(std::span<const std::uint8_t> ABlock,
                              std::initializer_list<std::wstring_view> APath) {
    std::optional<TNode> node = ReadNode(ABlock, 0, ABlock.size());
    for (const std::wstring_view key : APath) {
        if (!node)
            return std::nullopt;
        node = FindChild(ABlock, *node, key);
    }
    return node;
}

std::wstring Hex4(std::uint16_t AValue) {
    static constexpr wchar_t Digits[] = L"0123456789ABCDEF";
    std::wstring text(4, L'0');
    for (int i = 3; i >= 0; --i, AValue >>= 4)
        text[static_cast<size_t>(i)] = Digits[AValue & 15];
    return text;
}

} // namespace

std::wstring VersionTableKey(TVersionTranslation ATranslation) {
    return Hex4(ATranslation.Language) + Hex4(ATranslation.CodePage);
}

std::vector<TVersionTranslation> VersionTranslations(std::span<const std::uint8_t> ABlock) {
    std::vector<TVersionTranslation> translations;
    const std::optional<TNode> list = FindPath(ABlock, {L"VarFileInfo", L"Translation"});
    if (!list)
        return translations;
    // Each entry: the language, then the code page.
    for (size_t at = list->Value; at + 4 <= list->ValueEnd; at += 4)
        translations.push_back({Word(ABlock, at), Word(ABlock, at + 2)});
    return translations;
}

std::optional<std::wstring> VersionBlockString(std::span<const std::uint8_t> ABlock,
                                               TVersionTranslation ATranslation,
                                               std::wstring_view AValueName) {
    const std::wstring table = VersionTableKey(ATranslation);
    const std::optional<TNode> value = FindPath(ABlock, {L"StringFileInfo", table, AValueName});
    if (!value)
        return std::nullopt;
    std::wstring text;
    for (size_t at = value->Value; at + 2 <= value->ValueEnd; at += 2) {
        const std::uint16_t unit = Word(ABlock, at);
        if (unit == 0)
            break;
        text += static_cast<wchar_t>(unit);
    }
    return text;
}

bool FirstVersionString(std::span<const std::uint8_t> ABlock, std::wstring_view AValueName,
                        std::wstring& AText) {
    for (const TVersionTranslation& translation : VersionTranslations(ABlock)) {
        std::optional<std::wstring> value = VersionBlockString(ABlock, translation, AValueName);
        if (value && !value->empty()) {
            AText = std::move(*value);
            return true;
        }
    }
    return false;
}
