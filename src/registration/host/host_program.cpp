// The registration host as a program of its own: the program carries it, for each bitness, inside
// itself.
#include <windows.h>

#include <cstdlib>

#include "host_main.h"

// The program carries this host inside itself, so its size counts. The runtime's default end
// for an escaped exception prints the exception's demangled name, which nobody would see here
// (the program reads the exit code), and brings a demangler and a formatter with it: a plain end
// takes its place.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    HANDLE pipe = nullptr;
    if (!kestrave::IsRegistrationHostCommandLine(GetCommandLineW(), pipe))
        return 1;
    return kestrave::RunRegistrationHost(pipe);
}
