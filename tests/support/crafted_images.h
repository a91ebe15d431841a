// Library files the toolchain cannot make as they are needed, made from a built one or from
// nothing.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrave::testing {

// Copies the library at `from` to `to` and points its delay-import directory at the delay
// descriptor for `delayedLibrary`. MinGW's linker leaves that directory empty, so a header
// reader would otherwise see no delay imports at all.
void CopyWithDelayImportDirectory(const std::wstring& from, const std::wstring& to,
                                  const std::string& delayedLibrary);

// Writes a library that has nothing but headers, for the processor this test program is not
// built for: a 32-bit one from a 64-bit test, a 64-bit one from a 32-bit test.
void WriteOtherBitnessLibrary(const std::wstring& path);

// Where CopyWithSharedThunkTables puts its descriptors.
enum class ImportDirectory { Imports, DelayImports };

// Copies the library at `from` to `to` with its import (or delay-import) directory replaced by
// `descriptors` descriptors that all name `library` and take turns over `tables` thunk tables
// of `entries` functions each (all named `function`), placed in data added to the last
// section. A hostile file makes thousands of descriptors share one huge table.
void CopyWithSharedThunkTables(const std::wstring& from, const std::wstring& to,
                               ImportDirectory directory, const std::string& library,
                               const std::string& function, int descriptors, int tables,
                               int entries);

struct TypeLibraryClass {
    GUID clsid;
    bool creatable;
};

// Copies the library at `from` to `to` with a type library embedded (resource TYPELIB 1) that
// lists `classes`, as a control's own type library lists the classes it implements.
void CopyWithTypeLibrary(const std::wstring& from, const std::wstring& to,
                         const std::vector<TypeLibraryClass>& classes);

}  // namespace kestrave::testing
