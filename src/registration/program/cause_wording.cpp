#include "cause_wording.h"

#include "file_lookup.h"
#include "path.h"

namespace kestrave {
namespace {

bool IsHiddenControl(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) ||  // C0, DEL and C1 controls
           c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) ||  // marks and embeddings that reorder the text
           c == 0x2028 || c == 0x2029 || c == 0xFEFF;
}

std::wstring FileName(std::wstring_view path) {
    return SplitPath(path).name;
}

}  // namespace

std::wstring ShownName(std::wstring_view name) {
    std::wstring shown;
    for (wchar_t c : name) {
        if (IsHiddenControl(c))
            continue;
        if (shown.size() == kMaxShownNameLength) {
            shown.back() = L'…';
            break;
        }
        shown += c;
    }
    return shown;
}

std::wstring DependencyCauseText(const DependencyCulprit& culprit, bool inSourceFolder) {
    const std::wstring neededBy = ShownName(culprit.neededBy);
    const std::wstring file = ShownName(culprit.file);
    switch (culprit.kind) {
        case CulpritKind::None:
            return {};
        case CulpritKind::MissingFile: {
            std::wstring text = L"缺少 " + neededBy + L" 需要的文件 " + file;
            if (inSourceFolder)
                text += L"; 原文件夹中有这个文件, 可以把它也加入列表";
            return text;
        }
        case CulpritKind::MissingFunction: {
            const std::wstring function = culprit.function.empty()
                                              ? L"序号 " + std::to_wstring(culprit.ordinal)
                                              : ShownName(culprit.function);
            return file + L" 中没有 " + neededBy + L" 需要的函数 " + function;
        }
        case CulpritKind::OtherBitness: {
            const wchar_t* found = culprit.foundIs64 ? L"64" : L"32";
            const wchar_t* needed = culprit.foundIs64 ? L"32" : L"64";
            return file + L" 是" + found + L"位文件, " + neededBy + L" 需要" + needed + L"位的 " +
                   ShownName(FileName(culprit.file));
        }
        case CulpritKind::MissingAssembly: {
            std::wstring text =
                L"缺少 " + neededBy + L" 需要的并行组件 " + ShownName(culprit.assembly);
            if (!culprit.assemblyVersion.empty())
                text += L" " + ShownName(culprit.assemblyVersion);
            // "*" stands for any processor: it says nothing the user could act on.
            if (!culprit.assemblyArchitecture.empty() && culprit.assemblyArchitecture != L"*")
                text += L" (" + ShownName(culprit.assemblyArchitecture) + L")";
            return text;
        }
    }
    return {};
}

bool MissingFileIsInFolder(const DependencyCulprit& culprit, const std::wstring& folder) {
    if (culprit.kind != CulpritKind::MissingFile || folder.empty())
        return false;
    // Only a plain library name may be looked up: a name with a path in it would look elsewhere.
    if (culprit.file.empty() || culprit.file.find_first_of(L"\\/:") != std::wstring::npos ||
        culprit.file == L"." || culprit.file == L"..")
        return false;
    const wchar_t last = folder.back();
    const std::wstring path =
        (last == L'\\' || last == L'/') ? folder + culprit.file : folder + L"\\" + culprit.file;
    return IsPlainFile(path);
}

}  // namespace kestrave
