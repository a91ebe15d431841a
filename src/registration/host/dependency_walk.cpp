#include "dependency_walk.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "environment.h"
#include "handles.h"
#include "import_reader.h"
#include "path.h"
#include "system_folders.h"
#include "text.h"

namespace kestrave {
namespace {

// Bounds against hostile or absurd graphs; real ones stay far below them.
constexpr std::size_t kMaxLibrariesRead = 4000;
constexpr int kMaxDepth = 64;
constexpr int kMaxForwardHops = 16;

// A name from a file's tables as the loader reads it: in the ANSI code page.
std::wstring Widen(const std::string& name) {
    if (name.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::wstring wide(length > 0 ? length : 0, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide.data(),
                            length);
    return wide;
}

std::wstring Lower(std::wstring text) {
    if (!text.empty())
        CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

bool StartsWith(const std::wstring& lowerText, std::wstring_view prefix) {
    return lowerText.compare(0, prefix.size(), prefix) == 0;
}

std::wstring InFolder(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/')
        return folder + name;
    return folder + L'\\' + name;
}

struct ActivationContextTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { ReleaseActCtx(h); }
};
using ActivationContext = UniqueHandle<HANDLE, ActivationContextTraits>;

ActivationContext ContextFromLibraryManifest(const std::wstring& library) {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = library.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(2);  // a library's own manifest
    return ActivationContext(CreateActCtxW(&request));
}

// True when the activation context redirects `library` to one of its assemblies.
bool ContextProvides(const ActivationContext& context, const std::wstring& library) {
    ULONG_PTR cookie = 0;
    if (!ActivateActCtx(context.get(), &cookie))
        return false;
    ACTCTX_SECTION_KEYED_DATA data{};
    data.cbSize = sizeof data;
    const BOOL found = FindActCtxSectionStringW(
        0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, library.c_str(), &data);
    DeactivateActCtx(0, cookie);
    return found != FALSE;
}

std::string QuotedAttribute(const char* name, const std::wstring& value) {
    if (value.empty())
        return {};
    std::string text = Utf8FromWide(value);
    std::string escaped;
    for (char c : text)
        escaped += c == '"' ? std::string("&quot;") : std::string(1, c);
    return std::string(" ") + name + "=\"" + escaped + "\"";
}

// Whether the system can find `assembly`, asked through a manifest of our own that depends on
// it alone.
bool AssemblyIsInstalled(const AssemblyIdentity& assembly) {
    wchar_t folder[MAX_PATH + 1];
    wchar_t path[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"ksx", 0, path))
        return true;  // cannot ask: name nothing rather than guess
    const std::string manifest =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
        "<assemblyIdentity type=\"win32\" name=\"Kestrave.DependencyProbe\" version=\"1.0.0.0\"/>"
        "<dependency><dependentAssembly><assemblyIdentity" +
        QuotedAttribute("type", assembly.type) + QuotedAttribute("name", assembly.name) +
        QuotedAttribute("version", assembly.version) +
        QuotedAttribute("processorArchitecture", assembly.architecture) +
        QuotedAttribute("publicKeyToken", assembly.publicKeyToken) +
        QuotedAttribute("language", assembly.language) +
        "/></dependentAssembly></dependency></assembly>";
    bool installed = true;
    {
        FileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY, nullptr));
        DWORD written = 0;
        if (file && WriteFile(file.get(), manifest.data(), static_cast<DWORD>(manifest.size()),
                              &written, nullptr)) {
            file.reset();
            ACTCTXW request{};
            request.cbSize = sizeof request;
            request.lpSource = path;
            installed = static_cast<bool>(ActivationContext(CreateActCtxW(&request)));
        }
    }
    DeleteFileW(path);
    return installed;
}

std::set<std::wstring> KnownLibraries() {
    std::set<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0; i < 1000; ++i) {
        wchar_t valueName[256];
        wchar_t data[MAX_PATH];
        DWORD nameLength = 256;
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG status = RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataSize / sizeof(wchar_t)] = L'\0';
        names.insert(Lower(data));
    }
    RegCloseKey(key);
    return names;
}

// How sure a finding is to be what stopped the load: the lower, the surer.
enum Rank {
    kAssemblyRank,  // a missing assembly, before the libraries it would have provided
    kDirectRank,    // something a directly imported library needs
    kDelayedRank,   // something only a delay-loaded library needs
    kContractRank,  // a missing ext-ms-win-* contract, often absent and harmless
    kNothing,
};

class Walk {
  public:
    explicit Walk(const DependencyWalkInput& input)
        : input_(input), knownLibraries_(KnownLibraries()) {}

    DependencyCulprit Run() {
        auto reading = std::make_shared<ImportReading>(ReadImports(input_.file));
        if (reading->status != ImportReadStatus::Read)
            return {};
        wants64_ = reading->is64;
        visited_.insert(Lower(input_.file));
        Visit(input_.file, *reading, false, 0);
        return best_;
    }

  private:
    enum class Where { Provided, Loaded, Found, Missing, OtherBitness, Unknown };
    struct Resolution {
        Where where = Where::Missing;
        std::wstring path;  // Found, or OtherBitness: the file of the other bitness found first
        HMODULE module = nullptr;                      // Loaded
        std::shared_ptr<const ImportReading> reading;  // Found
        bool descend = false;
    };

    bool Settled() const { return bestRank_ <= kDirectRank; }

    void Note(DependencyCulprit culprit, Rank rank) {
        if (rank < bestRank_) {
            best_ = std::move(culprit);
            bestRank_ = rank;
        }
    }

    const Resolution& Resolve(const std::wstring& name) {
        const std::wstring key = Lower(name);
        auto cached = resolutions_.find(key);
        if (cached != resolutions_.end())
            return cached->second;
        Resolution& r = resolutions_[key];
        if (StartsWith(key, L"api-ms-win-")) {
            r.where = Where::Provided;  // resolved inside the loader, never a file
            return r;
        }
        if (input_.trustLoadedLibraries && wants64_ == (sizeof(void*) == 8)) {
            r.module = GetModuleHandleW(name.c_str());
            if (r.module) {
                r.where = Where::Loaded;
                return r;
            }
        }
        for (const std::wstring& folder : input_.searchFolders) {
            const std::wstring candidate = InFolder(folder, name);
            const DWORD attributes = GetFileAttributesW(candidate.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
                continue;
            if (readCount_ >= kMaxLibrariesRead) {
                // Past what any real graph needs: claim nothing rather than "missing".
                r.where = Where::Unknown;
                return r;
            }
            ++readCount_;
            auto reading = std::make_shared<ImportReading>(ReadImports(candidate));
            const bool image = reading->status == ImportReadStatus::Read ||
                               reading->status == ImportReadStatus::Malformed;
            if (image && reading->is64 != wants64_) {
                // The loader passes over a library of the other bitness and looks on.
                if (r.path.empty())
                    r.path = candidate;
                continue;
            }
            r.where = Where::Found;
            r.path = candidate;
            r.descend = reading->status == ImportReadStatus::Read && !knownLibraries_.count(key);
            r.reading = std::move(reading);
            return r;
        }
        r.where = r.path.empty() ? Where::Missing : Where::OtherBitness;
        return r;
    }

    // Whether `library` (resolved as `r`) has `function`; follows forwarded exports.
    void CheckFunction(const std::wstring& library, const Resolution& r,
                       const ImportedFunction& function, const std::wstring& neededBy, Rank rank,
                       int depth, int hops) {
        DependencyCulprit missing;
        missing.kind = CulpritKind::MissingFunction;
        missing.file = library;
        missing.function = Widen(function.name);
        missing.ordinal = function.ordinal;
        missing.neededBy = neededBy;
        if (r.where == Where::Loaded) {
            const char* asked =
                function.name.empty() ? MAKEINTRESOURCEA(function.ordinal) : function.name.c_str();
            if (!GetProcAddress(r.module, asked))
                Note(missing, rank);
            return;
        }
        if (r.where != Where::Found || r.reading->status != ImportReadStatus::Read)
            return;
        const ExportLookup lookup = FindExport(r.reading->exports, function);
        if (!lookup.found) {
            Note(missing, rank);
            return;
        }
        if (lookup.forwarder.empty() || hops >= kMaxForwardHops)
            return;
        // "OTHER.Function" or "OTHER.#7": the loader loads OTHER.dll and takes it from there.
        const std::size_t dot = lookup.forwarder.find_last_of('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == lookup.forwarder.size())
            return;
        std::wstring target = Widen(lookup.forwarder.substr(0, dot));
        if (target.find(L'.') == std::wstring::npos)
            target += L".dll";
        ImportedFunction forwarded;
        const std::string what = lookup.forwarder.substr(dot + 1);
        if (what[0] == '#') {
            const unsigned long ordinal = std::strtoul(what.c_str() + 1, nullptr, 10);
            if (ordinal == 0 || ordinal > 0xFFFF)
                return;
            forwarded.ordinal = static_cast<WORD>(ordinal);
        } else {
            forwarded.name = what;
        }
        const Resolution& next = Resolve(target);
        if (!Judge(target, next, library, rank))
            return;
        CheckFunction(target, next, forwarded, library, rank, depth, hops + 1);
        Enter(next, rank, depth);
    }

    // Notes a library that cannot be had; true when it is there to look into.
    bool Judge(const std::wstring& library, const Resolution& r, const std::wstring& neededBy,
               Rank rank) {
        if (r.where == Where::Missing) {
            DependencyCulprit culprit;
            culprit.kind = CulpritKind::MissingFile;
            culprit.file = library;
            culprit.neededBy = neededBy;
            Note(culprit, StartsWith(Lower(library), L"ext-ms-win-") ? kContractRank : rank);
            return false;
        }
        if (r.where == Where::OtherBitness) {
            DependencyCulprit culprit;
            culprit.kind = CulpritKind::OtherBitness;
            culprit.file = r.path;
            culprit.neededBy = neededBy;
            culprit.foundIs64 = !wants64_;
            Note(culprit, rank);
            return false;
        }
        return r.where != Where::Provided && r.where != Where::Unknown;
    }

    void Enter(const Resolution& r, Rank rank, int depth) {
        if (r.where != Where::Found || !r.descend || depth >= kMaxDepth)
            return;
        if (!visited_.insert(Lower(r.path)).second)
            return;
        Visit(r.path, *r.reading, rank == kDelayedRank, depth + 1);
    }

    void Visit(const std::wstring& path, const ImportReading& reading, bool delayed, int depth) {
        const std::wstring self = SplitPath(path).name;
        ActivationContext context;
        if (!reading.manifest.empty()) {
            const std::vector<AssemblyIdentity> assemblies = DependentAssemblies(reading.manifest);
            if (!assemblies.empty()) {
                context = ContextFromLibraryManifest(path);
                if (!context) {
                    for (const AssemblyIdentity& assembly : assemblies) {
                        if (AssemblyIsInstalled(assembly))
                            continue;
                        DependencyCulprit culprit;
                        culprit.kind = CulpritKind::MissingAssembly;
                        culprit.assembly = assembly.name;
                        culprit.assemblyVersion = assembly.version;
                        culprit.assemblyArchitecture = assembly.architecture;
                        culprit.neededBy = self;
                        Note(culprit, kAssemblyRank);
                        return;
                    }
                }
            }
        }
        for (const ImportedLibrary& library : reading.imports) {
            if (Settled())
                return;
            const Rank rank = delayed || library.delayed ? kDelayedRank : kDirectRank;
            const std::wstring name = Widen(library.name);
            if (name.find_first_of(L"\\/:") != std::wstring::npos)
                continue;  // not a library name; the loader would refuse it, not search for it
            if (context && ContextProvides(context, name))
                continue;
            const Resolution& r = Resolve(name);
            if (!Judge(name, r, self, rank))
                continue;
            for (const ImportedFunction& function : library.functions)
                CheckFunction(name, r, function, self, rank, depth, 0);
            Enter(r, rank, depth);
        }
    }

    const DependencyWalkInput& input_;
    const std::set<std::wstring> knownLibraries_;
    bool wants64_ = false;
    std::map<std::wstring, Resolution> resolutions_;
    std::set<std::wstring> visited_;
    std::size_t readCount_ = 0;
    DependencyCulprit best_;
    Rank bestRank_ = kNothing;
};

// A manifest's text as wide characters: UTF-16 when it starts with that mark, else UTF-8.
std::wstring ManifestText(const std::string& manifest) {
    if (manifest.size() >= 2 && static_cast<unsigned char>(manifest[0]) == 0xFF &&
        static_cast<unsigned char>(manifest[1]) == 0xFE) {
        std::wstring text((manifest.size() - 2) / 2, L'\0');
        std::memcpy(text.data(), manifest.data() + 2, text.size() * sizeof(wchar_t));
        return text;
    }
    if (manifest.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return WideFromUtf8(std::string_view(manifest).substr(3));
    return WideFromUtf8(manifest);
}

// The attributes of one tag, `<prefix:name a="1" b='2'/>`, without unescaping.
std::map<std::wstring, std::wstring> TagAttributes(std::wstring_view tag) {
    std::map<std::wstring, std::wstring> attributes;
    std::size_t at = tag.find_first_of(L" \t\r\n");
    while (at != std::wstring_view::npos && at < tag.size()) {
        const std::size_t equals = tag.find(L'=', at);
        if (equals == std::wstring_view::npos)
            break;
        std::wstring_view name = tag.substr(at, equals - at);
        const std::size_t nameStart = name.find_first_not_of(L" \t\r\n");
        const std::size_t nameEnd = name.find_last_not_of(L" \t\r\n");
        const std::size_t open = tag.find_first_of(L"\"'", equals);
        if (nameStart == std::wstring_view::npos || open == std::wstring_view::npos)
            break;
        const std::size_t close = tag.find(tag[open], open + 1);
        if (close == std::wstring_view::npos)
            break;
        name = name.substr(nameStart, nameEnd - nameStart + 1);
        attributes[std::wstring(name)] = std::wstring(tag.substr(open + 1, close - open - 1));
        at = close + 1;
    }
    return attributes;
}

}  // namespace

std::vector<AssemblyIdentity> DependentAssemblies(const std::string& manifest) {
    const std::wstring text = ManifestText(manifest);
    std::vector<AssemblyIdentity> assemblies;
    bool inDependentAssembly = false;
    bool optionalDependency = false;
    std::size_t at = 0;
    while ((at = text.find(L'<', at)) != std::wstring::npos) {
        if (text.compare(at, 4, L"<!--") == 0) {
            const std::size_t end = text.find(L"-->", at);
            if (end == std::wstring::npos)
                break;
            at = end + 3;
            continue;
        }
        const std::size_t end = text.find(L'>', at);
        if (end == std::wstring::npos)
            break;
        const std::wstring_view tag = std::wstring_view(text).substr(at + 1, end - at - 1);
        at = end + 1;
        const bool closing = !tag.empty() && tag[0] == L'/';
        std::wstring_view name = tag.substr(closing ? 1 : 0);
        name = name.substr(0, name.find_first_of(L" \t\r\n/"));
        if (const std::size_t colon = name.find(L':'); colon != std::wstring_view::npos)
            name = name.substr(colon + 1);
        if (name == L"dependency") {
            optionalDependency = !closing && TagAttributes(tag)[L"optional"] == L"yes";
        } else if (name == L"dependentAssembly") {
            inDependentAssembly = !closing && tag.back() != L'/';
        } else if (name == L"assemblyIdentity" && inDependentAssembly && !optionalDependency) {
            auto attributes = TagAttributes(tag);
            if (attributes[L"name"].empty())
                continue;
            assemblies.push_back({attributes[L"name"], attributes[L"version"],
                                  attributes[L"processorArchitecture"], attributes[L"type"],
                                  attributes[L"publicKeyToken"], attributes[L"language"]});
        }
    }
    return assemblies;
}

DependencyCulprit FindMissingDependency(const DependencyWalkInput& input) {
    return Walk(input).Run();
}

std::vector<std::wstring> LoaderSearchFolders(const std::wstring& file,
                                              bool currentFolderSearched) {
    std::vector<std::wstring> candidates{ParentFolder(file)};
    if (const std::wstring system = SystemFolder(); !system.empty())
        candidates.push_back(system);
    wchar_t buffer[MAX_PATH + 1];
    const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH) {
        const std::wstring windows(buffer, length);
        candidates.push_back(InFolder(windows, L"System"));
        candidates.push_back(windows);
    }
    const DWORD current = currentFolderSearched ? GetCurrentDirectoryW(MAX_PATH + 1, buffer) : 0;
    if (current > 0 && current <= MAX_PATH)
        candidates.emplace_back(buffer, current);
    const std::wstring path = EnvironmentValue(L"PATH");
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(L';', start);
        if (end == std::wstring::npos)
            end = path.size();
        std::wstring folder = path.substr(start, end - start);
        folder.erase(std::remove(folder.begin(), folder.end(), L'"'), folder.end());
        if (!folder.empty())
            candidates.push_back(folder);
        start = end + 1;
    }

    std::vector<std::wstring> folders;
    std::set<std::wstring> seen;
    for (std::wstring& folder : candidates) {
        while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
            folder.pop_back();
        if (!folder.empty() && seen.insert(Lower(folder)).second)
            folders.push_back(std::move(folder));
    }
    return folders;
}

}  // namespace kestrave
