#include "environment.h"

#include <windows.h>

namespace kestrave {

std::wstring EnvironmentValue(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    if (length >= size)
        return {};
    value.resize(length);
    return value;
}

}  // namespace kestrave
