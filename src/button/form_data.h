// The saved form data of the windows: each control's saved properties as UTF-8 text.
//
// The text is a list of blocks, one per control:
//
//   ' Lines starting with an apostrophe are comments; blank lines are ignored.
//   Begin Kestrave.Button 注册
//      Caption = "注 册"
//      Font = "宋体", 9, 400, 134
//      ForeColor = &H00FF0000&
//      Picture = BUTTON_NORMAL
//   End
//
// - "Begin", the class name and the control's name, separated by blanks. The control's name is
//   either a run of non-blank characters or a quoted text (for names with blanks). "End" closes
//   the block; blocks do not nest.
// - Inside a block, one "Key = value" per line. Keys are letters, digits and underscores, not
//   starting with a digit, and are matched without regard to letter case (a key may appear only
//   once per block). Values are kept in their order of appearance. A value is one of:
//   - a text in double quotes, any Unicode character as it is, with the escapes \" \\ \n \r \t
//     and \uXXXX (one UTF-16 unit, four hex digits);
//   - a number: decimal (-12) or hexadecimal &H followed by one to eight hex digits and an
//     optional closing & (&H80000012& is the system colour 0x80000012), 32 bits;
//   - a font: a quoted face name, then points (may have decimals), weight and character set,
//     then optionally the words Italic, Underline and Strikeout, all separated by commas;
//   - a picture: the name of its bitmap resource, an ASCII letter, "_" or "#" followed by
//     letters, digits and "_", ".", "-", "#"; the word Nothing stands for no picture.
// - The text may start with a UTF-8 byte order mark; lines end with LF or CR LF.
//
// Pictures are resolved through the caller's loader when the text is read; each picture keeps
// its name (Picture::Name), which is what the text gives back when it is written.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "picture.h"
#include "property_bag.h"

namespace kestrave {

struct SavedControl {
    std::wstring className;    // e.g. L"Kestrave.Button"
    std::wstring controlName;  // e.g. L"注册"
    PropertyBag properties;
};

// The picture saved under `name`, or null when there is none.
using PictureLoader = std::function<PictureRef(const std::wstring& name)>;

// A text that is not valid form data (with the 1-based line, 0 when no single line is at
// fault), or properties that the text cannot represent.
class FormDataError : public std::runtime_error {
  public:
    FormDataError(int line, const std::string& message);
    int Line() const { return line_; }

  private:
    int line_;
};

// Throws FormDataError for malformed text and for a picture name the loader does not know.
std::vector<SavedControl> ParseFormData(std::string_view utf8Text,
                                        const PictureLoader& loadPicture);

// The text that ParseFormData reads back into the same controls. Numbers under keys ending in
// "Color" are written in hexadecimal, others in decimal. Throws FormDataError for what the text
// cannot hold: a picture without a usable name, a font without a description, a key or class
// name of the wrong shape.
std::string FormatFormData(const std::vector<SavedControl>& controls);

// The control saved under `controlName` (letter case ignored), or null.
const SavedControl* FindSavedControl(const std::vector<SavedControl>& controls,
                                     std::wstring_view controlName);

}  // namespace kestrave
