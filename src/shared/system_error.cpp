#include "system_error.h"

namespace kestrave {
namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

}  // namespace

std::wstring FillInserts(std::wstring_view text, std::wstring_view subject) {
    std::wstring filled;
    filled.reserve(text.size() + subject.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%' || i + 1 == text.size()) {
            filled.push_back(text[i]);
            continue;
        }
        const wchar_t next = text[i + 1];
        if (next == L'0')  // ends the message
            break;
        if (IsDigit(next)) {
            size_t end = i + 1;
            while (end < text.size() && IsDigit(text[end]))
                ++end;
            // "%1!s!" carries a printf format between exclamation marks.
            if (end < text.size() && text[end] == L'!') {
                size_t close = text.find(L'!', end + 1);
                if (close != std::wstring_view::npos)
                    end = close + 1;
            }
            filled += subject;
            i = end - 1;
            continue;
        }
        // "%n" breaks the line, "%r" returns, "%t" tabs: one line of reason reads better plain.
        filled.push_back(next == L'n' || next == L'r' || next == L't' ? L' ' : next);
        ++i;
    }
    return filled;
}

std::wstring SystemErrorText(DWORD code, std::wstring_view subject) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr)
        return {};
    std::wstring text = FillInserts(std::wstring_view(buffer, length), subject);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace kestrave
