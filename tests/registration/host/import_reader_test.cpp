#include "import_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "dependency_walk.h"
#include "test_folder.h"

namespace kestrave {
namespace {

using testing::TempFolder;
using testing::TestServerPath;

const ImportedLibrary* Imported(const ImportReading& reading, const std::string& name) {
    for (const ImportedLibrary& library : reading.imports) {
        if (_stricmp(library.name.c_str(), name.c_str()) == 0)
            return &library;
    }
    return nullptr;
}

TEST(ReadImports, ReadsWhatABuiltLibraryImportsAndExports) {
    const ImportReading oldOrdinal = ReadImports(TestServerPath(L"cause_oldord_server.dll"));
    ASSERT_EQ(oldOrdinal.status, ImportReadStatus::Read);
    EXPECT_EQ(oldOrdinal.is64, sizeof(void*) == 8);
    const ImportedLibrary* old = Imported(oldOrdinal, "a_old.dll");
    ASSERT_NE(old, nullptr);
    ASSERT_EQ(old->functions.size(), 1u);
    EXPECT_EQ(old->functions[0].name, "");
    EXPECT_EQ(old->functions[0].ordinal, 42);
    EXPECT_TRUE(FindExport(oldOrdinal.exports, {"DllRegisterServer"}).found);
    EXPECT_FALSE(FindExport(oldOrdinal.exports, {"DllCanUnloadNow"}).found);

    const ImportReading forwarding = ReadImports(TestServerPath(L"a_fwd.dll"));
    ASSERT_EQ(forwarding.status, ImportReadStatus::Read);
    EXPECT_EQ(FindExport(forwarding.exports, {"G1"}).forwarder, "nosuchfwd.G1");
    const ExportLookup own = FindExport(forwarding.exports, {"H1"});
    EXPECT_TRUE(own.found);
    EXPECT_EQ(own.forwarder, "");

    const ImportReading byName = ReadImports(TestServerPath(L"a_old.dll"));
    EXPECT_TRUE(FindExport(byName.exports, {"F1"}).found);
    EXPECT_TRUE(FindExport(byName.exports, {"", 1}).found) << "F1 is also ordinal 1";
    EXPECT_FALSE(FindExport(byName.exports, {"", 42}).found);
    EXPECT_FALSE(FindExport(byName.exports, {"", 0}).found);

    const ImportReading withManifest = ReadImports(TestServerPath(L"cause_sxs_server.dll"));
    EXPECT_NE(withManifest.manifest.find("Kestrave.Test.AbsentRuntime"), std::string::npos);
    EXPECT_EQ(byName.manifest, "");
}

TEST(ReadImports, TellsAFileThatIsNoImageFromOneItCannotOpen) {
    TempFolder folder;
    testing::WriteTextFile(folder / L"text.dll", std::string(4096, 'x'));
    testing::WriteTextFile(folder / L"empty.dll", "");
    EXPECT_EQ(ReadImports(folder / L"text.dll").status, ImportReadStatus::NotAnImage);
    EXPECT_EQ(ReadImports(folder / L"empty.dll").status, ImportReadStatus::NotAnImage);
    const ImportReading absent = ReadImports(folder / L"absent.dll");
    EXPECT_EQ(absent.status, ImportReadStatus::Unreadable);
    EXPECT_EQ(absent.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Byte offsets of the headers of a built library, for the damaged copies below.
struct Layout {
    std::size_t nt = 0;
    std::size_t optional = 0;
    std::size_t directories = 0;
    std::size_t sections = 0;
    WORD sectionCount = 0;
};

Layout LayoutOf(const std::string& bytes) {
    Layout layout;
    std::memcpy(&layout.nt, bytes.data() + offsetof(IMAGE_DOS_HEADER, e_lfanew), sizeof(LONG));
    IMAGE_FILE_HEADER header{};
    std::memcpy(&header, bytes.data() + layout.nt + 4, sizeof header);
    layout.optional = layout.nt + 4 + sizeof header;
    layout.directories =
        layout.optional + (sizeof(void*) == 8 ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                              : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory));
    layout.sections = layout.optional + header.SizeOfOptionalHeader;
    layout.sectionCount = header.NumberOfSections;
    return layout;
}

template <typename T>
void Put(std::string& bytes, std::size_t offset, T value) {
    if (offset + sizeof(T) <= bytes.size())
        std::memcpy(bytes.data() + offset, &value, sizeof(T));
}
template <typename T>
T Get(const std::string& bytes, std::size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size())
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

std::size_t Directory(const Layout& layout, int index) {
    return layout.directories + index * sizeof(IMAGE_DATA_DIRECTORY);
}

// The file offset of an RVA in an undamaged image.
std::size_t FileOffset(const std::string& bytes, const Layout& layout, DWORD rva) {
    for (WORD i = 0; i < layout.sectionCount; ++i) {
        const auto s =
            Get<IMAGE_SECTION_HEADER>(bytes, layout.sections + i * sizeof(IMAGE_SECTION_HEADER));
        if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
            return rva - s.VirtualAddress + s.PointerToRawData;
    }
    return 0;
}

// Whatever a damaged file holds, reading it must end, and it must either be refused or give
// what the undamaged file gives: never a library or function name that is not really there.
void ExpectRefusedOrUnchanged(const ImportReading& damaged, const ImportReading& original) {
    if (damaged.status != ImportReadStatus::Read)
        return;
    ASSERT_EQ(damaged.imports.size(), original.imports.size());
    for (std::size_t i = 0; i < damaged.imports.size(); ++i) {
        EXPECT_EQ(damaged.imports[i].name, original.imports[i].name);
        ASSERT_EQ(damaged.imports[i].functions.size(), original.imports[i].functions.size());
        for (std::size_t j = 0; j < damaged.imports[i].functions.size(); ++j) {
            EXPECT_EQ(damaged.imports[i].functions[j].name, original.imports[i].functions[j].name);
            EXPECT_EQ(damaged.imports[i].functions[j].ordinal,
                      original.imports[i].functions[j].ordinal);
        }
    }
}

ImportReading Read(const std::string& bytes) {
    return ReadImportsFromBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(ReadImportsFromBytes, RefusesEveryTruncatedCopy) {
    for (const wchar_t* library :
         {L"cause_deep_server.dll", L"a_fwd.dll", L"cause_sxs_server.dll"}) {
        const std::string bytes = testing::ReadWholeFile(TestServerPath(library));
        const ImportReading original = Read(bytes);
        ASSERT_EQ(original.status, ImportReadStatus::Read);
        for (std::size_t length = 0; length < bytes.size(); length += length < 1024 ? 1 : 97) {
            SCOPED_TRACE(length);
            ExpectRefusedOrUnchanged(Read(bytes.substr(0, length)), original);
        }
    }
}

TEST(ReadImportsFromBytes, RefusesMalformedHeadersAndTables) {
    const std::string good = testing::ReadWholeFile(TestServerPath(L"cause_deep_server.dll"));
    const ImportReading original = Read(good);
    ASSERT_EQ(original.status, ImportReadStatus::Read);
    ASSERT_NE(Imported(original, "a_mid.dll"), nullptr);
    const Layout layout = LayoutOf(good);
    const auto imports =
        Get<IMAGE_DATA_DIRECTORY>(good, Directory(layout, IMAGE_DIRECTORY_ENTRY_IMPORT));
    const auto exports =
        Get<IMAGE_DATA_DIRECTORY>(good, Directory(layout, IMAGE_DIRECTORY_ENTRY_EXPORT));
    const std::size_t importsAt = FileOffset(good, layout, imports.VirtualAddress);
    const std::size_t exportsAt = FileOffset(good, layout, exports.VirtualAddress);
    ASSERT_NE(importsAt, 0u);
    ASSERT_NE(exportsAt, 0u);
    const std::size_t firstThunks =
        FileOffset(good, layout, Get<IMAGE_IMPORT_DESCRIPTOR>(good, importsAt).OriginalFirstThunk);
    const std::size_t firstName =
        FileOffset(good, layout, Get<IMAGE_IMPORT_DESCRIPTOR>(good, importsAt).Name);

    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        bool refused;  // false: the damage is harmless and the reading must be unchanged
    } cases[] = {
        {"PE header far beyond the end", [&](std::string& b) { Put<LONG>(b, 0x3C, 0x7FFFFFF0); },
         true},
        {"PE header at a negative offset", [&](std::string& b) { Put<LONG>(b, 0x3C, -8); }, true},
        {"no PE signature", [&](std::string& b) { Put<DWORD>(b, layout.nt, 0x12345678); }, true},
        {"unknown optional header", [&](std::string& b) { Put<WORD>(b, layout.optional, 0x1234); },
         true},
        {"optional header too short",
         [&](std::string& b) {
             Put<WORD>(b, layout.nt + 4 + offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader), 8);
         },
         true},
        {"optional header as long as it can be",
         [&](std::string& b) {
             Put<WORD>(b, layout.nt + 4 + offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader),
                       0xFFFF);
         },
         true},
        {"more sections than the loader takes",
         [&](std::string& b) {
             Put<WORD>(b, layout.nt + 4 + offsetof(IMAGE_FILE_HEADER, NumberOfSections), 0xFFFF);
         },
         true},
        {"no sections",
         [&](std::string& b) {
             Put<WORD>(b, layout.nt + 4 + offsetof(IMAGE_FILE_HEADER, NumberOfSections), 0);
         },
         true},
        {"sections' data beyond the end",
         [&](std::string& b) {
             for (WORD i = 0; i < layout.sectionCount; ++i)
                 Put<DWORD>(b,
                            layout.sections + i * sizeof(IMAGE_SECTION_HEADER) +
                                offsetof(IMAGE_SECTION_HEADER, PointerToRawData),
                            0xFFFFFF00);
         },
         true},
        {"sections' data sizes huge",
         [&](std::string& b) {
             for (WORD i = 0; i < layout.sectionCount; ++i)
                 Put<DWORD>(b,
                            layout.sections + i * sizeof(IMAGE_SECTION_HEADER) +
                                offsetof(IMAGE_SECTION_HEADER, SizeOfRawData),
                            0xFFFFFFF0);
         },
         false},
        {"directory count huge",
         [&](std::string& b) { Put<DWORD>(b, layout.directories - 4, 0xFFFFFFFF); }, false},
        {"import table outside the image",
         [&](std::string& b) {
             Put<DWORD>(b, Directory(layout, IMAGE_DIRECTORY_ENTRY_IMPORT), 0xFFFFFFF0);
         },
         true},
        {"import table that never ends",
         [&](std::string& b) {
             // Every descriptor after the first repeats it, up to the end of its section.
             const auto first = Get<IMAGE_IMPORT_DESCRIPTOR>(b, importsAt);
             for (std::size_t at = importsAt; at + sizeof first <= b.size(); at += sizeof first)
                 Put(b, at, first);
         },
         true},
        {"a library name without its end",
         [&](std::string& b) {
             for (std::size_t at = firstName; at < b.size(); ++at)
                 b[at] = 'a';
         },
         true},
        {"a library name with control characters", [&](std::string& b) { b[firstName] = '\n'; },
         true},
        {"thunks pointing outside the image",
         [&](std::string& b) { Put<ULONG_PTR>(b, firstThunks, 0x7FFFFFF0); }, true},
        {"thunks that never end",
         [&](std::string& b) {
             const auto thunk = Get<ULONG_PTR>(b, firstThunks);
             for (std::size_t at = firstThunks; at + sizeof thunk <= b.size(); at += sizeof thunk)
                 Put(b, at, thunk);
         },
         true},
        {"export table claiming every ordinal",
         [&](std::string& b) {
             Put<DWORD>(b, exportsAt + offsetof(IMAGE_EXPORT_DIRECTORY, NumberOfFunctions),
                        0xFFFFFFFF);
         },
         true},
        {"export names outside the image",
         [&](std::string& b) {
             Put<DWORD>(b, exportsAt + offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfNames),
                        0xFFFFFF00);
         },
         true},
        {"export name ordinals past the table",
         [&](std::string& b) {
             const DWORD ordinals =
                 Get<DWORD>(b, exportsAt + offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfNameOrdinals));
             Put<WORD>(b, FileOffset(b, layout, ordinals), 0xFFFF);
         },
         true},
        {"resource table outside the image",
         [&](std::string& b) {
             Put<DWORD>(b, Directory(layout, IMAGE_DIRECTORY_ENTRY_RESOURCE), 0xFFFFFFF0);
         },
         true},
        {"delay-import table outside the image",
         [&](std::string& b) {
             Put<DWORD>(b, Directory(layout, IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT), 0xFFFFFFF0);
         },
         true},
        {"delay-import table over the import table",
         [&](std::string& b) {
             // Import descriptors read as delay descriptors: whatever comes of it must end.
             Put(b, Directory(layout, IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT), imports);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string damaged = good;
        c.damage(damaged);
        const ImportReading reading = Read(damaged);
        if (c.refused) {
            EXPECT_NE(reading.status, ImportReadStatus::Read);
        }
        ExpectRefusedOrUnchanged(reading, original);

        // The walk, given the damaged file as the queued one, names nothing.
        TempFolder folder;
        testing::WriteTextFile(folder / L"damaged.ocx", damaged);
        if (c.refused) {
            EXPECT_EQ(FindMissingDependency({folder / L"damaged.ocx", {folder.Path()}}).kind,
                      CulpritKind::None);
        }
    }
}

// Random damage anywhere in the headers and tables: the reader must come back every time.
TEST(ReadImportsFromBytes, SurvivesRandomDamage) {
    const std::string good = testing::ReadWholeFile(TestServerPath(L"a_fwd.dll"));
    const std::size_t span = std::min<std::size_t>(good.size(), 0x4000);
    unsigned seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    int read = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = good;
        const int flips = 1 + next() % 8;
        for (int i = 0; i < flips; ++i)
            damaged[(next() >> 8) % span] = static_cast<char>(next() >> 16);
        if (Read(damaged).status == ImportReadStatus::Read)
            ++read;
    }
    SUCCEED() << read << " damaged copies still read";
}

}  // namespace
}  // namespace kestrave
