// What a registration host may name besides numbers: the missing piece behind a failed load,
// and the classes a registration leaves leading to another file. Names only: the program words
// them into a reason and rests no file step on them.
#pragma once

#include <windows.h>

#include <string>

namespace kestrave {

enum class CulpritKind {
    None,             // nothing was found missing
    MissingFile,      // `file` (a library name) is nowhere in the search folders
    MissingFunction,  // `file` does not export `function` (or, when that is empty, `ordinal`)
    OtherBitness,     // `file` (a full path) is the only library of that name, of the other bitness
    MissingAssembly,  // the side-by-side assembly `assembly` is not installed
};

// Names only: the program words the reason from them. `neededBy` is the name of the file
// that needs the missing piece (the queued file itself or one of the libraries it loads).
struct DependencyCulprit {
    CulpritKind kind = CulpritKind::None;
    std::wstring file;
    std::wstring function;
    WORD ordinal = 0;
    std::wstring assembly;
    std::wstring assemblyVersion;
    std::wstring assemblyArchitecture;  // empty when the manifest names none
    std::wstring neededBy;
    bool foundIs64 = false;  // OtherBitness: the file found is 64-bit (so 32-bit was needed)
};

// Exception codes that say an import could not be bound when it was first called, so that a
// walk can name the cause: Wine's stub for a function a library lacks, and the delay-load
// helper's missing library and missing function.
constexpr DWORD kUnimplementedFunctionCode = 0x80000100;
constexpr DWORD kDelayLoadMissingLibraryCode = 0xC06D007E;
constexpr DWORD kDelayLoadMissingFunctionCode = 0xC06D007F;

inline bool IsImportBindingFault(DWORD code) {
    return code == kUnimplementedFunctionCode || code == kDelayLoadMissingLibraryCode ||
           code == kDelayLoadMissingFunctionCode;
}

struct ClassPointingElsewhere {
    std::wstring clsid;      // "{...}"
    std::wstring otherFile;  // the file the class leads to, as it was read (quotes removed,
                             // variables expanded, a bare name put in the system folder)
    bool perUser = false;    // from HKCU\Software\Classes, which shadows the machine's entry
};

}  // namespace kestrave
