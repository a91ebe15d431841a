#include "crafted_images.h"

#include <windows.h>

#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_folder.h"

namespace kestrave::testing {
namespace {

void WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    WriteTextFile(path, bytes);
}

template <typename T>
T At(const std::string& bytes, std::size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size())
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

template <typename T>
void Put(std::string& bytes, std::size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

// Where a built image keeps what the crafting below changes.
struct ImageLayout {
    explicit ImageLayout(const std::string& bytes)
        : header(At<IMAGE_FILE_HEADER>(bytes, NtAt(bytes) + 4)),
          optional(NtAt(bytes) + 4 + sizeof(IMAGE_FILE_HEADER)),
          is64(At<WORD>(bytes, optional) == IMAGE_NT_OPTIONAL_HDR64_MAGIC),
          directories(optional + (is64 ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                       : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory))),
          sections(optional + header.SizeOfOptionalHeader) {}

    static std::size_t NtAt(const std::string& bytes) {
        return At<LONG>(bytes, offsetof(IMAGE_DOS_HEADER, e_lfanew));
    }
    IMAGE_SECTION_HEADER Section(const std::string& bytes, WORD i) const {
        return At<IMAGE_SECTION_HEADER>(bytes, sections + i * sizeof(IMAGE_SECTION_HEADER));
    }
    // The address the image gives the byte at `offset` of the file; 0 when no section holds it.
    DWORD RvaOf(const std::string& bytes, std::size_t offset) const {
        for (WORD i = 0; i < header.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER s = Section(bytes, i);
            if (offset >= s.PointerToRawData && offset < s.PointerToRawData + s.SizeOfRawData)
                return static_cast<DWORD>(offset - s.PointerToRawData + s.VirtualAddress);
        }
        return 0;
    }

    const IMAGE_FILE_HEADER header;
    const std::size_t optional;
    const bool is64;
    const std::size_t directories;
    const std::size_t sections;
};

}  // namespace

void CopyWithDelayImportDirectory(const std::wstring& from, const std::wstring& to,
                                  const std::string& delayedLibrary) {
    std::string bytes = ReadWholeFile(from);
    ASSERT_GT(bytes.size(), 0x400u);
    const ImageLayout layout(bytes);

    // The library's name, and where the image puts it.
    const std::string name = delayedLibrary + '\0';
    const std::size_t nameAt = bytes.find(name);
    ASSERT_NE(nameAt, std::string::npos) << "the delayed library's name is not in the file";
    const DWORD nameRva = layout.RvaOf(bytes, nameAt);
    ASSERT_NE(nameRva, 0u);

    // The descriptor: attributes 1 (addresses are RVAs), then the name's RVA.
    std::size_t descriptorAt = std::string::npos;
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 4) {
        if (At<DWORD>(bytes, at) == 1 && At<DWORD>(bytes, at + 4) == nameRva) {
            descriptorAt = at;
            break;
        }
    }
    ASSERT_NE(descriptorAt, std::string::npos) << "no delay descriptor names the library";
    const DWORD descriptorRva = layout.RvaOf(bytes, descriptorAt);
    ASSERT_NE(descriptorRva, 0u);

    // The delay-import library gives one descriptor and no empty one after it: the directory's
    // size says where the table ends.
    IMAGE_DATA_DIRECTORY delay{descriptorRva, sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)};
    Put(bytes,
        layout.directories + IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT * sizeof(IMAGE_DATA_DIRECTORY),
        delay);
    WriteWholeFile(to, bytes);
}

void CopyWithSharedThunkTables(const std::wstring& from, const std::wstring& to,
                               ImportDirectory directory, const std::string& library,
                               const std::string& function, int descriptors, int tables,
                               int entries) {
    std::string bytes = ReadWholeFile(from);
    ASSERT_GT(bytes.size(), 0x400u);
    const ImageLayout layout(bytes);
    const std::size_t optional = layout.optional;
    const bool is64 = layout.is64;
    const std::size_t sizeOfImageAt =
        optional + (is64 ? offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfImage)
                         : offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfImage));
    const DWORD sectionAlignment =
        At<DWORD>(bytes, optional + (is64 ? offsetof(IMAGE_OPTIONAL_HEADER64, SectionAlignment)
                                          : offsetof(IMAGE_OPTIONAL_HEADER32, SectionAlignment)));

    // The section that ends the image grows to hold the new data, added at the file's end.
    std::size_t lastAt = 0;
    IMAGE_SECTION_HEADER last{};
    for (WORD i = 0; i < layout.header.NumberOfSections; ++i) {
        const std::size_t at = layout.sections + i * sizeof(IMAGE_SECTION_HEADER);
        const IMAGE_SECTION_HEADER s = layout.Section(bytes, i);
        if (s.VirtualAddress >= last.VirtualAddress) {
            last = s;
            lastAt = at;
        }
    }
    ASSERT_NE(last.PointerToRawData, 0u) << "the last section has no data in the file";
    bytes.resize((bytes.size() + 0xFFF) & ~std::size_t{0xFFF}, '\0');
    const std::size_t dataAt = bytes.size();
    const DWORD dataRva =
        static_cast<DWORD>(last.VirtualAddress + (dataAt - last.PointerToRawData));

    std::string data;
    auto place = [&](const void* what, std::size_t size) {
        const DWORD rva = static_cast<DWORD>(dataRva + data.size());
        data.append(static_cast<const char*>(what), size);
        data.resize((data.size() + 15) & ~std::size_t{15}, '\0');
        return rva;
    };
    const DWORD libraryRva = place(library.c_str(), library.size() + 1);
    const std::string hintAndName = std::string(2, '\0') + function + '\0';
    const DWORD functionRva = place(hintAndName.data(), hintAndName.size());
    std::vector<DWORD> tableRvas;
    const std::size_t thunkSize = is64 ? 8 : 4;
    for (int t = 0; t < tables; ++t) {
        std::string table((static_cast<std::size_t>(entries) + 1) * thunkSize, '\0');
        for (int i = 0; i < entries; ++i)
            std::memcpy(table.data() + i * thunkSize, &functionRva, sizeof functionRva);
        tableRvas.push_back(place(table.data(), table.size()));
    }
    std::string table;
    for (int d = 0; d < descriptors; ++d) {
        const DWORD thunks = tableRvas[d % tables];
        if (directory == ImportDirectory::Imports) {
            IMAGE_IMPORT_DESCRIPTOR descriptor{};
            descriptor.OriginalFirstThunk = thunks;
            descriptor.Name = libraryRva;
            descriptor.FirstThunk = thunks;
            table.append(reinterpret_cast<const char*>(&descriptor), sizeof descriptor);
        } else {
            IMAGE_DELAYLOAD_DESCRIPTOR descriptor{};
            descriptor.Attributes.RvaBased = 1;
            descriptor.DllNameRVA = libraryRva;
            descriptor.ImportAddressTableRVA = thunks;
            descriptor.ImportNameTableRVA = thunks;
            table.append(reinterpret_cast<const char*>(&descriptor), sizeof descriptor);
        }
    }
    const DWORD listed = static_cast<DWORD>(table.size());
    table.resize(
        table.size() + sizeof(IMAGE_IMPORT_DESCRIPTOR) + sizeof(IMAGE_DELAYLOAD_DESCRIPTOR), '\0');
    const DWORD tableRva = place(table.data(), table.size());
    data.resize((data.size() + 0x1FF) & ~std::size_t{0x1FF}, '\0');
    bytes += data;

    last.SizeOfRawData = static_cast<DWORD>(bytes.size() - last.PointerToRawData);
    last.Misc.VirtualSize = last.SizeOfRawData;
    last.Characteristics |= IMAGE_SCN_MEM_READ | IMAGE_SCN_CNT_INITIALIZED_DATA;
    last.Characteristics &= ~static_cast<DWORD>(IMAGE_SCN_MEM_DISCARDABLE);
    Put(bytes, lastAt, last);
    const DWORD imageEnd = last.VirtualAddress + last.Misc.VirtualSize;
    Put<DWORD>(bytes, sizeOfImageAt, (imageEnd + sectionAlignment - 1) & ~(sectionAlignment - 1));
    const int entry = directory == ImportDirectory::Imports ? IMAGE_DIRECTORY_ENTRY_IMPORT
                                                            : IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT;
    Put(bytes, layout.directories + entry * sizeof(IMAGE_DATA_DIRECTORY),
        IMAGE_DATA_DIRECTORY{tableRva, listed});
    WriteWholeFile(to, bytes);
}

void WriteOtherBitnessLibrary(const std::wstring& path) {
    // Headers and one section of code (a single return): Wine would load a library without
    // code into a process of the other bitness, as it does resource-only libraries.
    std::string bytes(0x400, '\0');
    IMAGE_DOS_HEADER dos{};
    dos.e_magic = IMAGE_DOS_SIGNATURE;
    dos.e_lfanew = 0x40;
    Put(bytes, 0, dos);
    Put<DWORD>(bytes, 0x40, IMAGE_NT_SIGNATURE);
    IMAGE_FILE_HEADER file{};
    file.Characteristics = IMAGE_FILE_DLL | IMAGE_FILE_EXECUTABLE_IMAGE;
    file.NumberOfSections = 1;
#if defined(_WIN64)
    file.Machine = IMAGE_FILE_MACHINE_I386;
    file.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER32);
    IMAGE_OPTIONAL_HEADER32 optional{};
    optional.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    optional.ImageBase = 0x10000000;
    const BYTE returnFromEntry[] = {0xB8, 0x01, 0, 0, 0, 0xC2, 0x0C, 0x00};  // mov eax,1; ret 12
#else
    file.Machine = IMAGE_FILE_MACHINE_AMD64;
    file.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER64);
    IMAGE_OPTIONAL_HEADER64 optional{};
    optional.Magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    optional.ImageBase = 0x180000000ull;
    const BYTE returnFromEntry[] = {0xB8, 0x01, 0, 0, 0, 0xC3};  // mov eax,1; ret
#endif
    optional.AddressOfEntryPoint = 0x1000;
    optional.BaseOfCode = 0x1000;
    optional.SizeOfCode = 0x200;
    optional.SizeOfHeaders = 0x200;
    optional.FileAlignment = 0x200;
    optional.SectionAlignment = 0x1000;
    optional.SizeOfImage = 0x2000;
    optional.MajorSubsystemVersion = 4;
    optional.MajorOperatingSystemVersion = 4;
    optional.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI;
    optional.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    Put(bytes, 0x44, file);
    Put(bytes, 0x44 + sizeof file, optional);
    IMAGE_SECTION_HEADER text{};
    std::memcpy(text.Name, ".text", 5);
    text.Misc.VirtualSize = sizeof returnFromEntry;
    text.VirtualAddress = 0x1000;
    text.SizeOfRawData = 0x200;
    text.PointerToRawData = 0x200;
    text.Characteristics = IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_READ;
    Put(bytes, 0x44 + sizeof file + sizeof optional, text);
    std::memcpy(bytes.data() + 0x200, returnFromEntry, sizeof returnFromEntry);
    WriteWholeFile(path, bytes);
}

void CopyWithTypeLibrary(const std::wstring& from, const std::wstring& to,
                         const std::vector<TypeLibraryClass>& classes) {
    const std::wstring tlb = to + L".tlb";
    {
        ICreateTypeLib2* library = nullptr;
        ASSERT_EQ(CreateTypeLib2(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, tlb.c_str(), &library),
                  S_OK);
        GUID libraryId{};
        CoCreateGuid(&libraryId);
        library->SetGuid(libraryId);
        library->SetName(const_cast<wchar_t*>(L"KestraveReadbackLib"));
        library->SetVersion(1, 0);
        int n = 0;
        for (const TypeLibraryClass& c : classes) {
            ICreateTypeInfo* info = nullptr;
            std::wstring name = L"ReadbackClass" + std::to_wstring(n++);
            ASSERT_EQ(library->CreateTypeInfo(name.data(), TKIND_COCLASS, &info), S_OK);
            info->SetGuid(c.clsid);
            info->SetTypeFlags(c.creatable ? TYPEFLAG_FCANCREATE : 0);
            info->LayOut();
            info->Release();
        }
        const HRESULT saved = library->SaveAllChanges();
        library->Release();
        ASSERT_EQ(saved, S_OK);
    }
    const std::string bytes = ReadWholeFile(tlb);
    DeleteFileW(tlb.c_str());
    ASSERT_FALSE(bytes.empty());
    CopyOrFail(from, to);
    HANDLE update = BeginUpdateResourceW(to.c_str(), FALSE);
    ASSERT_NE(update, nullptr) << GetLastError();
    ASSERT_TRUE(UpdateResourceW(update, L"TYPELIB", MAKEINTRESOURCEW(1),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size())));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE)) << GetLastError();
}

}  // namespace kestrave::testing
