// Loads each library named on its command line by name, as a program does at run time:
//   library_probe.exe [--system-only] name...
// With --system-only it first restricts loading the way kestrave.exe does at start.
#include <windows.h>

#include <string>

#include "system_libraries.h"

int wmain(int argc, wchar_t** argv) {
    int first = 1;
    if (argc > 1 && std::wstring(argv[1]) == L"--system-only") {
        kestrave::LoadLibrariesOnlyFromSystemFolder();
        first = 2;
    }
    for (int i = first; i < argc; ++i)
        LoadLibraryW(argv[i]);
    return 0;
}
