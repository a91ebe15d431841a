// The registration host as a program of its own, for the bitness the main program is not.
#include <windows.h>

#include "host_main.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    HANDLE pipe = nullptr;
    if (!kestrave::IsRegistrationHostCommandLine(GetCommandLineW(), pipe))
        return 1;
    return kestrave::RunRegistrationHost(pipe);
}
