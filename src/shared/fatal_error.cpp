#include "fatal_error.h"

#include <windows.h>

#include <new>
#include <stdexcept>

#include "messages.h"
#include "text.h"

namespace kestrave {
namespace {

std::function<void()>& LastAction() {
    static std::function<void()> action;
    return action;
}

}  // namespace

void ReportFatalError(const std::wstring& description) {
    MessageBoxW(nullptr, description.c_str(), kMessageTitle, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    EndProcess(1);
}

void SetLastAction(std::function<void()> action) {
    LastAction() = std::move(action);
}

void EndProcess(UINT exitCode) {
    // Taken out first: a fault inside the action itself ends here again, and must not loop.
    const std::function<void()> action = std::move(LastAction());
    LastAction() = nullptr;
    if (action) {
        try {
            action();
        } catch (...) {
            // The process ends anyway; there is nobody left to tell.
        }
    }
    ExitProcess(exitCode);
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
