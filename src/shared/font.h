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

class Font {
  public:
    explicit Font(FontDescription description);
    HFONT Handle() const { return handle_.get(); }
    const FontDescription& Description() const { return description_; }

  private:
    FontDescription description_;
    FontHandle handle_;
};

using FontRef = std::shared_ptr<const Font>;

inline FontRef MakeFont(FontDescription description) {
    return std::make_shared<const Font>(std::move(description));
}

}  // namespace kestrave
