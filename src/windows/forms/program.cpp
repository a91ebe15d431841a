#include "program.h"

#include "fatal_error.h"

namespace kestrave {

HINSTANCE ProgramInstance() {
    return GetModuleHandleW(nullptr);
}

int ShowMessage(HWND owner, const std::wstring& text, int style, const std::wstring& title) {
    return MessageBoxW(owner, text.c_str(), title.c_str(), static_cast<UINT>(style));
}

void EndProgram() {
    EndProcess(0);
}

}  // namespace kestrave
