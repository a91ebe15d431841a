#include "class_readback.h"

#include <oleauto.h>

#include "handles.h"
#include "path.h"
#include "system_folders.h"

namespace kestrave {
namespace {

constexpr DWORD kMaxPathValueBytes = 4096 * sizeof(wchar_t);

// Holds one COM interface pointer and releases it.
template <typename Interface>
class Held {
  public:
    Held() = default;
    ~Held() {
        if (pointer_)
            pointer_->Release();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Interface** Receive() { return &pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

  private:
    Interface* pointer_ = nullptr;
};

class RegistryKey {
  public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_)
            RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* Receive() { return &key_; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

std::vector<GUID> CreatableClasses(const std::wstring& file) {
    std::vector<GUID> classes;
    Held<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(file.c_str(), REGKIND_NONE, library.Receive())) || !library)
        return classes;
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind = TKIND_MAX;
        if (FAILED(library->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS)
            continue;
        Held<ITypeInfo> info;
        if (FAILED(library->GetTypeInfo(i, info.Receive())) || !info)
            continue;
        TYPEATTR* attributes = nullptr;
        if (FAILED(info->GetTypeAttr(&attributes)) || !attributes)
            continue;
        if (attributes->wTypeFlags & TYPEFLAG_FCANCREATE)
            classes.push_back(attributes->guid);
        info->ReleaseTypeAttr(attributes);
    }
    return classes;
}

struct ServerEntry {
    std::wstring file;
    FILETIME written{};
};

// The InprocServer32 entry of `clsid` under `classes`, made into a path; nothing when there is
// no entry or it is not text.
bool ReadServerEntry(HKEY root, const wchar_t* classes, const std::wstring& clsid, REGSAM view,
                     const std::wstring& systemFolder, ServerEntry& entry) {
    const std::wstring name = std::wstring(classes) + L"\\CLSID\\" + clsid + L"\\InprocServer32";
    RegistryKey key;
    if (RegOpenKeyExW(root, name.c_str(), 0, KEY_QUERY_VALUE | view, key.Receive()) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size > kMaxPathValueBytes)
        return false;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.get(), nullptr, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
        return false;
    value.resize(std::min<std::size_t>(value.find(L'\0'), size / sizeof(wchar_t)));
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, &entry.written) != ERROR_SUCCESS)
        return false;

    const std::size_t first = value.find_first_not_of(L" \t");
    const std::size_t last = value.find_last_not_of(L" \t");
    value = first == std::wstring::npos ? std::wstring() : value.substr(first, last - first + 1);
    if (value.size() >= 2 && value.front() == L'"') {
        const std::size_t close = value.find(L'"', 1);
        value = value.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH * 4];
        const DWORD length = ExpandEnvironmentStringsW(value.c_str(), expanded, MAX_PATH * 4);
        if (length == 0 || length > MAX_PATH * 4)
            return false;
        value = expanded;
    }
    if (value.empty())
        return false;
    // A bare name is found by the loader's search, which starts in the system folder.
    if (value.find_first_of(L"\\/:") == std::wstring::npos)
        value = systemFolder + L"\\" + value;
    entry.file = std::move(value);
    return true;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& identity) {
    FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.get(), &identity);
}

// The same file, by its text, or, when that differs (a short name, another spelling of the
// folder), by the file system's identity of both.
bool SameFile(const std::wstring& a, const std::wstring& b) {
    if (SameText(a, b))
        return true;
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return FileIdentity(a, first) && FileIdentity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

}  // namespace

std::vector<ClassPointingElsewhere> ReadBackClasses(const ClassReadbackInput& input) {
    std::vector<ClassPointingElsewhere> found;
    const std::vector<GUID> classes = CreatableClasses(input.copy);
    if (classes.empty())
        return found;
    const std::wstring systemFolder =
        input.systemFolder.empty() ? SystemFolder() : input.systemFolder;
    const REGSAM view = input.copyIs64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const std::wstring copyName = SplitPath(input.copy).name;
    for (const GUID& guid : classes) {
        wchar_t text[40];
        if (!StringFromGUID2(guid, text, 40))
            continue;
        const std::wstring clsid = text;
        // Per-user first: where both are set, that is the one an application gets.
        for (const bool perUser : {true, false}) {
            ServerEntry entry;
            if (!ReadServerEntry(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                                 L"Software\\Classes", clsid, view, systemFolder, entry) ||
                SameFile(entry.file, input.copy))
                continue;
            const bool writtenNow =
                CompareFileTime(&entry.written, &input.registrationStarted) >= 0;
            if (writtenNow || SameText(SplitPath(entry.file).name, copyName))
                found.push_back({clsid, entry.file, perUser});
        }
    }
    return found;
}

}  // namespace kestrave
