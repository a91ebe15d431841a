// Names and paths as the user is shown them. A file name, a function name or a path that a
// message or a report shows may come from anywhere: a file someone else named, a registry value,
// a host that ran a server's code. Characters that would hide, reorder or pile up the text
// around them are made visible or left out, so that what the user reads is what is there.
#pragma once

#include <string>
#include <string_view>

namespace kestrave {

// `text` with every character outside the allow-list shown as '?' (controls, format and
// invisible characters such as U+202E, U+200B, U+2060, U+3164, U+FFF9..FFFB, U+00AD, unpaired
// surrogates, private-use and unassigned code points), and combining marks after the second in
// a row left out.
std::wstring ShownText(std::wstring_view text);

// The largest cut at or below `at` that falls on a whole character: never inside a surrogate
// pair, never between a character and the marks that combine with it.
std::size_t WholeCharacterCut(std::wstring_view text, std::size_t at);

}  // namespace kestrave
