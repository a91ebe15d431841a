// What a library needs and offers, read from its headers without loading it: the libraries
// and functions it imports (directly and delay-loaded), the functions it exports (with their
// forwarders), and its side-by-side manifest. A hostile file must not crash or stall the
// reader, so every offset is checked against the file's size and every count is bounded.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrave {

struct ImportedFunction {
    std::string name;  // empty when imported by ordinal
    WORD ordinal = 0;  // meaningful only when `name` is empty
};

struct ImportedLibrary {
    std::string name;  // as written in the file (ANSI code page), e.g. "KERNEL32.dll"
    bool delayed = false;
    std::vector<ImportedFunction> functions;
};

struct ExportTable {
    DWORD ordinalBase = 0;
    // Indexed by ordinal - ordinalBase: the function's address, 0 where the ordinal is unused.
    std::vector<DWORD> addresses;
    // Parallel to `addresses`: "OTHER.Function" or "OTHER.#7" where the export is forwarded.
    std::vector<std::string> forwarders;
    // Sorted by name: each exported name with its index into `addresses`.
    std::vector<std::pair<std::string, WORD>> names;
};

// Where an imported function was found among a library's exports.
struct ExportLookup {
    bool found = false;
    std::string forwarder;  // not empty when the export is forwarded elsewhere
};

enum class ImportReadStatus {
    Read,        // the headers were read in full
    Unreadable,  // the file could not be opened or mapped; `error` says why
    NotAnImage,  // not a PE image at all
    Malformed,   // a PE image whose tables point outside the file or never end
};

struct ImportReading {
    ImportReadStatus status = ImportReadStatus::Unreadable;
    DWORD error = ERROR_SUCCESS;
    WORD machine = 0;
    bool is64 = false;                     // a PE32+ image (x86-64), else PE32 (x86)
    std::vector<ImportedLibrary> imports;  // the direct ones first, then the delay-loaded ones
    ExportTable exports;
    std::string manifest;  // the manifest resource 2 (a library's own), empty when none
};

// Reads the file at `path`, mapped read-only. The file is opened without write or delete
// sharing, so nobody can shrink it under the mapping while it is read.
ImportReading ReadImports(const std::wstring& path);

// Reads an image already in memory, `size` bytes at `data`.
ImportReading ReadImportsFromBytes(const std::uint8_t* data, std::size_t size);

// Looks `function` up among `exports`, by name or by ordinal.
ExportLookup FindExport(const ExportTable& exports, const ImportedFunction& function);

}  // namespace kestrave
