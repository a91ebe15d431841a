// Where the program takes the libraries it loads by name.
#pragma once

namespace kestrave {

// From now on, a library loaded by name (a delay-loaded import included) comes only from the
// system folder, never from the program's folder, the current folder or PATH. Call it before
// anything loads a library: the program runs elevated among files it does not control.
// Gives whether the system could be told so (it can from Windows 8, and on Windows 7 with
// update KB2533623); without that, at least the current folder is left out.
bool LoadLibrariesOnlyFromSystemFolder();

}  // namespace kestrave
