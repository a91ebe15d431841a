// The registration host: a process of a server's own bitness that loads servers and runs their
// registration exports for the program, one request at a time, so that no server's code ever
// runs in the program's own process. It does nothing with files: the program copies, compares
// and deletes them itself, trusting nothing a host says about them.
#pragma once

#include <windows.h>

#include "host_channel.h"

namespace kestrave {

// True, with the inherited pipe, when `commandLine` is the host's exact command line.
bool IsRegistrationHostCommandLine(const wchar_t* commandLine, HANDLE& pipe);

// Serves requests on `pipe` until the program says quit, goes away or sends something that is
// not a request. Gives the exit code.
int RunRegistrationHost(HANDLE pipe);

}  // namespace kestrave
