// The names of the folder the registration hosts are written to, and of the files in it. The
// program that writes them and the start-up sweep that removes what earlier runs left behind
// must agree on them exactly: the sweep touches nothing else.
#pragma once

#include <cstddef>

namespace kestrave {

// Each run makes one folder under the system's ProgramData, named this prefix followed by
// kHostFolderRandomDigits lowercase hexadecimal digits drawn from the system's random source, so
// that nobody can make it, or a link by its name, before the run does.
inline constexpr wchar_t kHostFolderPrefix[] = L"Kestrave-";
inline constexpr std::size_t kHostFolderRandomDigits = 32;

// Who may use a run's folder: administrators and the system only, nothing inherited.
inline constexpr wchar_t kHostFolderAccess[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// The only files a run writes there.
inline constexpr wchar_t kHost32FileName[] = L"kestrave-host32.exe";
inline constexpr wchar_t kHost64FileName[] = L"kestrave-host64.exe";

// A live run holds its folder open (without delete sharing) and each host file open (without
// write or delete sharing) until it removes them, so a folder that cannot be opened for deletion
// because of a sharing violation belongs to a run that is not over.

}  // namespace kestrave
