// Fonts as the windows describe them (face, points, weight, character set) and their GDI object.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "handles.h"

namespace kestrave {

struct FontDescription {
    std::wstring face = L"宋体";
    double points = 9;
    int weight = FW_NORMAL;
    BYTE charset = GB2312_CHARSET;  // 134
    bool italic = false;
    bool underline = false;
    bool strikeout = false;

    bool operator==(const FontDescription&) const = default;
};

// The described face at its point size for one DPI (the screen's unless told).
class Font : public std::enable_shared_from_this<Font> {
  public:
    explicit Font(FontDescription description, int dpi = 0);
    HFONT Handle() const { return handle_.get(); }
    const FontDescription& Description() const { return description_; }
    int Dpi() const { return dpi_; }
    // The same description at `dpi`: this font when it is already there.
    std::shared_ptr<const Font> AtDpi(int dpi) const;

  private:
    FontDescription description_;
    int dpi_;
    FontHandle handle_;
};

using FontRef = std::shared_ptr<const Font>;

inline FontRef MakeFont(FontDescription description, int dpi = 0) {
    return std::make_shared<const Font>(std::move(description), dpi);
}

}  // namespace kestrave
