// The self-registering servers that ship with this system (Wine's own, under Wine), for tests
// and benchmarks that check the program finds nothing wrong with any of them.
#pragma once

#include <string>
#include <vector>

namespace kestrave::testing {

// Full paths of every library of this process's bitness in the system folder that exports
// DllRegisterServer, as the import reader sees it.
std::vector<std::wstring> SystemSelfRegisteringServers();

}  // namespace kestrave::testing
