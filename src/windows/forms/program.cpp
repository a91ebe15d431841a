#include "program.h"

#include <stdexcept>
#include <vector>

#include "text.h"

namespace kestrave {

HINSTANCE ProgramInstance() {
    return GetModuleHandleW(nullptr);
}

int ShowMessage(HWND owner, const std::wstring& text, int style, const std::wstring& title) {
    return MessageBoxW(owner, text.c_str(), title.c_str(), static_cast<UINT>(style));
}

void EndProgram() {
    ExitProcess(0);
}

void ReportFatalError(const std::wstring& description) {
    MessageBoxW(nullptr, description.c_str(), L"Kestrave", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    ExitProcess(1);
}

std::wstring DescribeException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return L"内存不足";
    } catch (const std::exception& e) {
        return WideFromUtf8(e.what());
    } catch (...) {
        return L"未知错误";
    }
}

}  // namespace kestrave
