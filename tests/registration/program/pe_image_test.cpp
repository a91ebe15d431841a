// The header check decides which host takes a file, and whether it is copied at all: a file
// whose headers are cut short or contradict themselves is no server, whatever its first bytes.
#include "pe_image.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>

#include "batch_report.h"
#include "registration_host.h"
#include "test_folder.h"

namespace kestrave {
namespace {

using testing::TempFolder;
using testing::TestServerPath;

// Where the headers of a well-formed library are, so that a case can change one field.
struct Layout {
    std::string bytes;
    size_t fileHeader = 0;  // IMAGE_FILE_HEADER
    size_t optional = 0;    // the optional header
    size_t sections = 0;    // the first section header
    bool is64 = false;

    explicit Layout(std::string image) : bytes(std::move(image)) {
        LONG peAt = 0;
        std::memcpy(&peAt, bytes.data() + offsetof(IMAGE_DOS_HEADER, e_lfanew), sizeof peAt);
        fileHeader = static_cast<size_t>(peAt) + sizeof(DWORD);
        optional = fileHeader + sizeof(IMAGE_FILE_HEADER);
        sections =
            optional + Get<WORD>(fileHeader + offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader));
        is64 = Get<WORD>(optional) == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    }
    template <typename T>
    T Get(size_t at) const {
        T value{};
        std::memcpy(&value, bytes.data() + at, sizeof value);
        return value;
    }
    template <typename T>
    void Set(size_t at, T value) {
        std::memcpy(bytes.data() + at, &value, sizeof value);
    }
    // An optional header field, at its place in the file's own layout.
    size_t Field(size_t offset32, size_t offset64) const {
        return optional + (is64 ? offset64 : offset32);
    }
    size_t NumberOfRvaAndSizes() const {
        return Field(offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes),
                     offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes));
    }
    size_t FixedOptionalSize() const {
        return is64 ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                    : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    }
    WORD SectionCount() const {
        return Get<WORD>(fileHeader + offsetof(IMAGE_FILE_HEADER, NumberOfSections));
    }
    size_t Section(WORD index, size_t field) const {
        return sections + index * sizeof(IMAGE_SECTION_HEADER) + field;
    }
};

TEST(ReadImageInfo, RefusesHeadersThatAreCutShortOrContradictThemselves) {
    const std::wstring server = TestServerPath(L"good_server.dll");
    const Layout good(testing::ReadWholeFile(server));
    const ImageKind own = good.is64 ? ImageKind::X64 : ImageKind::X86;
    const size_t sizeOfOptional =
        good.fileHeader + offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader);
    const WORD lastSection = static_cast<WORD>(good.SectionCount() - 1);

    struct Case {
        const char* name;
        std::function<void(Layout&)> change;
        ImageKind kind;
    } cases[] = {
        {"unchanged", [](Layout&) {}, own},
        {"fewer directories than room for them",
         [&](Layout& l) { l.Set<DWORD>(l.NumberOfRvaAndSizes(), 6); }, own},
        {"optional header smaller than its fixed fields",
         [&](Layout& l) { l.Set<WORD>(sizeOfOptional, 0x40); }, ImageKind::NotALibrary},
        {"optional header without room for its directories",
         [&](Layout& l) {
             l.Set<WORD>(sizeOfOptional, static_cast<WORD>(l.FixedOptionalSize() + 8));
         },
         ImageKind::NotALibrary},
        {"file ends inside the optional header",
         [&](Layout& l) { l.bytes.resize(l.optional + 0x30); }, ImageKind::NotALibrary},
        {"file ends inside the section table",
         [&](Layout& l) { l.bytes.resize(l.sections + sizeof(IMAGE_SECTION_HEADER) / 2); },
         ImageKind::NotALibrary},
        {"more sections than the file holds headers for",
         [&](Layout& l) {
             l.Set<WORD>(l.fileHeader + offsetof(IMAGE_FILE_HEADER, NumberOfSections), 0xFFFF);
         },
         ImageKind::NotALibrary},
        {"a section's data past the end of the file",
         [&](Layout& l) {
             l.Set<DWORD>(l.Section(lastSection, offsetof(IMAGE_SECTION_HEADER, PointerToRawData)),
                          static_cast<DWORD>(l.bytes.size()));
         },
         ImageKind::NotALibrary},
        {"the file cut inside its last section",
         [&](Layout& l) {
             const DWORD start = l.Get<DWORD>(
                 l.Section(lastSection, offsetof(IMAGE_SECTION_HEADER, PointerToRawData)));
             l.bytes.resize(start + 1);
         },
         ImageKind::NotALibrary},
        {"a section past the end of the image",
         [&](Layout& l) {
             l.Set<DWORD>(l.Section(lastSection, offsetof(IMAGE_SECTION_HEADER, VirtualAddress)),
                          0x7FFF0000);
         },
         ImageKind::NotALibrary},
        {"headers larger than the image",
         [&](Layout& l) {
             l.Set<DWORD>(l.Field(offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfHeaders),
                                  offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfHeaders)),
                          0x7FFFFFFF);
         },
         ImageKind::NotALibrary},
        {"a file alignment that is no power of two",
         [&](Layout& l) {
             l.Set<DWORD>(l.Field(offsetof(IMAGE_OPTIONAL_HEADER32, FileAlignment),
                                  offsetof(IMAGE_OPTIONAL_HEADER64, FileAlignment)),
                          0x300);
         },
         ImageKind::NotALibrary},
        {"sections aligned finer than the file",
         [&](Layout& l) {
             l.Set<DWORD>(l.Field(offsetof(IMAGE_OPTIONAL_HEADER32, SectionAlignment),
                                  offsetof(IMAGE_OPTIONAL_HEADER64, SectionAlignment)),
                          0x100);
         },
         ImageKind::NotALibrary},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Layout changed = good;
        c.change(changed);
        const std::wstring path = folder / L"changed.ocx";
        testing::WriteTextFile(path, changed.bytes);
        const ImageInfo image = ReadImageInfo(path);
        EXPECT_EQ(image.kind, c.kind);
        if (c.kind == ImageKind::NotALibrary) {
            EXPECT_EQ(ImageFailureReason(image), kNotAServerReason);
        }
    }
}

}  // namespace
}  // namespace kestrave
