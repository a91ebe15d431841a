#include "display_text.h"

#include <windows.h>

namespace kestrave {
namespace {

struct Range {
    char32_t first;
    char32_t last;
};

bool InRanges(char32_t c, const Range* ranges, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (c >= ranges[i].first && c <= ranges[i].last)
            return true;
    }
    return false;
}

// Shown as '?': they draw nothing, or change how the text around them is drawn or ordered.
constexpr Range kHidden[] = {
    {0x0000, 0x001F},    {0x007F, 0x009F},  // controls
    {0x00AD, 0x00AD},                       // soft hyphen
    {0x034F, 0x034F},                       // combining grapheme joiner
    {0x061C, 0x061C},                       // Arabic letter mark
    {0x115F, 0x1160},    {0x17B4, 0x17B5},  // fillers and invisible vowels
    {0x180B, 0x180F},                       // Mongolian selectors and vowel separator
    {0x200B, 0x200F},                       // zero widths, direction marks
    {0x2028, 0x202E},                       // separators, embeddings and overrides
    {0x2060, 0x206F},                       // word joiner, invisible operators, isolates
    {0x3164, 0x3164},    {0xFFA0, 0xFFA0},  // Hangul fillers
    {0xD800, 0xDFFF},                       // surrogates (a paired one never gets here)
    {0xE000, 0xF8FF},                       // private use
    {0xFDD0, 0xFDEF},                       // noncharacters
    {0xFE00, 0xFE0F},                       // variation selectors
    {0xFEFF, 0xFEFF},                       // zero-width no-break space
    {0xFFF0, 0xFFFC},    {0xFFFE, 0xFFFF},  // interlinear annotation, object replacement
    {0x1BCA0, 0x1BCA3},                     // shorthand format controls
    {0x1D173, 0x1D17A},                     // musical format controls
    {0xE0000, 0xE0FFF},                     // tags, variation selectors supplement
    {0xF0000, 0x10FFFF},                    // private use planes
};

// Marks drawn on the character before them; a pile of them covers the lines above and below.
constexpr Range kCombining[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0E31, 0x0E31},
    {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x20D0, 0x20FF},
    {0x302A, 0x302F}, {0x3099, 0x309A}, {0xFE20, 0xFE2F},
};

constexpr int kMostMarksInARow = 2;

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

bool IsCombining(char32_t c) {
    return InRanges(c, kCombining, std::size(kCombining));
}

// The code point at `i` and how many UTF-16 units it takes; an unpaired surrogate stands for
// itself, so that it lands in the hidden set.
char32_t CodePointAt(std::wstring_view text, std::size_t i, std::size_t& units) {
    const wchar_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        units = 2;
        return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
               (static_cast<char32_t>(text[i + 1]) - 0xDC00);
    }
    units = 1;
    return c;
}

}  // namespace

std::wstring ShownText(std::wstring_view text) {
    std::wstring shown;
    shown.reserve(text.size());
    int marksInARow = 0;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t units = 1;
        const char32_t c = CodePointAt(text, i, units);
        if (IsCombining(c)) {
            if (++marksInARow <= kMostMarksInARow)
                shown.append(text.substr(i, units));
        } else {
            marksInARow = 0;
            if (InRanges(c, kHidden, std::size(kHidden)))
                shown += L'?';
            else
                shown.append(text.substr(i, units));
        }
        i += units;
    }
    return shown;
}

std::size_t WholeCharacterCut(std::wstring_view text, std::size_t at) {
    if (at >= text.size())
        return text.size();
    for (; at > 0; --at) {
        std::size_t units = 1;
        if (IsLowSurrogate(text[at]) && IsHighSurrogate(text[at - 1]))
            continue;
        if (IsCombining(CodePointAt(text, at, units)))
            continue;
        break;
    }
    return at;
}

}  // namespace kestrave
