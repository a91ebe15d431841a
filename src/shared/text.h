// Conversions between the program's wide text and UTF-8 (exception texts, saved form data).
#pragma once

#include <string>
#include <string_view>

namespace kestrave {

std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);

}  // namespace kestrave
