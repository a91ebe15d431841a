// Values the windows and commands share when they talk to the user.
#pragma once

namespace kestrave {

// Every message box of the program carries this title.
inline constexpr wchar_t kMessageTitle[] = L"温馨提示";

// Message box styles, as MessageBox takes them.
inline constexpr int kStyleInformation = 64;  // MB_ICONINFORMATION | MB_OK
inline constexpr int kStyleExclamation = 48;  // MB_ICONEXCLAMATION | MB_OK
inline constexpr int kStyleQuestion = 35;     // MB_ICONQUESTION | MB_YESNOCANCEL

// Answers, as MessageBox returns them.
inline constexpr int kAnswerCancel = 2;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// Mouse pointers of a window: the default, the arrow and the hourglass.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerArrow = 1;
inline constexpr int kPointerHourglass = 11;

}  // namespace kestrave
