// The command buttons of a window, each one row of the window's table: its name and place, its
// tooltip, how it was saved at design time, and what it runs when clicked.
#pragma once

#include <windows.h>

#include <optional>

#include "button.h"
#include "property_bag.h"

namespace kestrave {

// Geometry in twips, as the windows lay themselves out.
struct TwipsRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
};

struct SavedFont {
    const wchar_t* face;
    double points;
    int weight;
    BYTE charset;
};

// A picture button as the window's saved form data keeps it: the pictures by the names of the
// program's bitmap resources, the caption, its font and text colour. What is left unset was not
// saved, and the button keeps its default for it (the back colour is never saved).
struct SavedButton {
    const wchar_t* pictureMouseOn = nullptr;
    const wchar_t* pictureDown = nullptr;
    const wchar_t* picture = nullptr;
    const wchar_t* caption = nullptr;
    std::optional<SavedFont> font;
    std::optional<ColorValue> foreColor;
};

// The bag the button reads `saved` from, pictures loaded from the program's resources.
PropertyBag SavedProperties(const SavedButton& saved);

// One command button of `Window`: clicking it runs `run` on the window. A window that needs the
// button itself names the field that receives it in `button`.
template <typename Window>
struct Command {
    const wchar_t* name;  // the control's name, e.g. L"注册"
    TwipsRect place;
    const wchar_t* toolTip;  // empty for none
    SavedButton saved;
    void (Window::*run)();
    Button* Window::*button = nullptr;
    // What screen readers call a button that shows no caption; null: its tooltip.
    const wchar_t* accessibleName = nullptr;
};

}  // namespace kestrave
