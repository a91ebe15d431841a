#include "font.h"

#include <cmath>

#include "screen.h"

namespace kestrave {

Font::Font(FontDescription description, int dpi)
    : description_(std::move(description)), dpi_(dpi > 0 ? dpi : ScreenDpiY()) {
    LOGFONTW logFont{};
    logFont.lfHeight = -static_cast<LONG>(std::lround(description_.points * dpi_ / 72.0));
    logFont.lfWeight = description_.weight;
    logFont.lfItalic = description_.italic;
    logFont.lfUnderline = description_.underline;
    logFont.lfStrikeOut = description_.strikeout;
    logFont.lfCharSet = description_.charset;
    logFont.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(logFont.lfFaceName, description_.face.c_str(), LF_FACESIZE);
    handle_.reset(CreateFontIndirectW(&logFont));
}

FontRef Font::AtDpi(int dpi) const {
    if (dpi == dpi_)
        return shared_from_this();
    return MakeFont(description_, dpi);
}

}  // namespace kestrave
