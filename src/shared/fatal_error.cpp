#include "fatal_error.h"

#include <windows.h>

#include <new>
#include <stdexcept>

#include "messages.h"
#include "text.h"

namespace kestrave {

void ReportFatalError(const std::wstring& description) {
    MessageBoxW(nullptr, description.c_str(), kMessageTitle, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
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
