#include "system_servers.h"

#include <windows.h>

#include "file_lookup.h"
#include "import_reader.h"
#include "system_folders.h"

namespace kestrave::testing {

std::vector<std::wstring> SystemSelfRegisteringServers() {
    const std::wstring system = SystemFolder();
    std::vector<std::wstring> servers;
    for (const wchar_t* pattern : {L"\\*.dll", L"\\*.ocx"}) {
        FileListing listing(system + pattern);
        for (std::wstring name = listing.Next(); !name.empty(); name = listing.Next()) {
            const std::wstring path = system + L"\\" + name;
            const ImportReading reading = ReadImports(path);
            if (reading.status == ImportReadStatus::Read && reading.is64 == (sizeof(void*) == 8) &&
                FindExport(reading.exports, {"DllRegisterServer"}).found)
                servers.push_back(path);
        }
    }
    return servers;
}

}  // namespace kestrave::testing
