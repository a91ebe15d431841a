#include "font.h"

#include <cmath>

#include "screen.h"

namespace kestrave {

Font::Font(FontSpec spec) : spec_(std::move(spec)) {
    LOGFONTW description{};
    description.lfHeight = -static_cast<LONG>(std::lround(spec_.points * ScreenDpiY() / 72.0));
    description.lfWeight = spec_.weight;
    description.lfItalic = spec_.italic;
    description.lfUnderline = spec_.underline;
    description.lfStrikeOut = spec_.strikeout;
    description.lfCharSet = spec_.charset;
    description.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(description.lfFaceName, spec_.face.c_str(), LF_FACESIZE);
    handle_.reset(CreateFontIndirectW(&description));
}

}  // namespace kestrave
