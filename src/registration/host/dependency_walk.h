// Why a library could not be loaded (or bound an import to nothing), found by reading headers
// alone: the file, function, side-by-side assembly or wrong-bitness library behind it. Nothing
// is loaded for it, so it may run on a file whose load has just failed or crashed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host_findings.h"

namespace kestrave {

struct DependencyWalkInput {
    std::wstring file;                        // the library that failed, by its full path
    std::vector<std::wstring> searchFolders;  // where the loader looks, in its order
    // Libraries already loaded in this process are taken as they are (their functions are
    // asked of the loader) and not descended into. Only meaningful in a process of the file's
    // own bitness, as a registration host is.
    bool trustLoadedLibraries = true;
};

// Walks the import graph of `input.file` the way the loader would, and names the first thing
// that cannot be found. A missing assembly outranks the libraries it would have provided;
// problems of direct imports outrank those of delay-loaded ones; an `ext-ms-win-*` contract
// that is missing is named only when nothing else is.
DependencyCulprit FindMissingDependency(const DependencyWalkInput& input);

// The folders the loader searches for the imports of a library loaded by its full path with
// the altered search order: the library's own folder, the system folder, the 16-bit system
// folder, the Windows folder, the current folder (unless the process took it out of its
// search with SetDllDirectoryW(L"")), then PATH. Duplicates are left out.
std::vector<std::wstring> LoaderSearchFolders(const std::wstring& file,
                                              bool currentFolderSearched = true);

// The assemblies a manifest depends on, as its dependentAssembly elements name them.
struct AssemblyIdentity {
    std::wstring name;
    std::wstring version;
    std::wstring architecture;
    std::wstring type;
    std::wstring publicKeyToken;
    std::wstring language;
};
std::vector<AssemblyIdentity> DependentAssemblies(const std::string& manifest);

}  // namespace kestrave
