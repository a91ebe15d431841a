// The registration host: a process of a server's own bitness that copies, loads, registers and
// deletes server files for the program, one request at a time, so that no server's code ever
// runs in the program's own process.
#pragma once

#include <windows.h>

namespace kestrave {

// The switch that starts a program as a registration host, followed by the pipe handle it
// inherited.
inline constexpr wchar_t kHostSwitch[] = L"--registration-host";

// True, with the inherited pipe, when `commandLine` asks for a registration host.
bool IsRegistrationHostCommandLine(const wchar_t* commandLine, HANDLE& pipe);

// Serves requests on `pipe` until the program says quit or goes away. Gives the exit code.
int RunRegistrationHost(HANDLE pipe);

}  // namespace kestrave
