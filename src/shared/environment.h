#pragma once

#include <string>

namespace kestrave {

// The value of an environment variable, or empty when it is not set.
std::wstring EnvironmentValue(const wchar_t* name);

}  // namespace kestrave
