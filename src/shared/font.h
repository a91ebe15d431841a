// Fonts as the windows describe them (face, points, weight, character set) and their GDI object.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "handles.h"

namespace kestrave {

struct FontSpec {
    std::wstring face = L"宋体";
    double points = 9;
    int weight = FW_NORMAL;
    BYTE charset = GB2312_CHARSET;  // 134
    bool italic = false;
    bool underline = false;
    bool strikeout = false;

    bool operator==(const FontSpec&) const = default;
};

class Font {
  public:
    explicit Font(FontSpec spec);
    HFONT Handle() const { return handle_.get(); }
    const FontSpec& Spec() const { return spec_; }

  private:
    FontSpec spec_;
    FontHandle handle_;
};

using FontRef = std::shared_ptr<const Font>;

inline FontRef MakeFont(FontSpec spec) {
    return std::make_shared<const Font>(std::move(spec));
}

}  // namespace kestrave
