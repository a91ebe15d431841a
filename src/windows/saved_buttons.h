// How the windows' picture buttons were saved at design time: a command button shows the wide
// button pictures with its caption in blue 9-point 宋体, a close button the small cross.
#pragma once

#include "command.h"

namespace kestrave {

inline constexpr SavedFont kCommandFont{L"宋体", 9, FW_NORMAL, GB2312_CHARSET};
inline constexpr ColorValue kCommandTextColor = 0x00FF0000;

constexpr SavedButton SavedCommandButton(const wchar_t* caption) {
    return SavedButton{.pictureMouseOn = L"BUTTON_HOVER",
                       .pictureDown = L"BUTTON_DOWN",
                       .picture = L"BUTTON_NORMAL",
                       .caption = caption,
                       .font = kCommandFont,
                       .foreColor = kCommandTextColor};
}

inline constexpr SavedButton kSavedCloseButton{.pictureMouseOn = L"CLOSE_HOVER",
                                               .pictureDown = L"CLOSE_DOWN",
                                               .picture = L"CLOSE_NORMAL",
                                               .caption = nullptr,
                                               .font = std::nullopt,
                                               .foreColor = std::nullopt};

}  // namespace kestrave
