// Where the test COM servers record themselves: a CLSID key under HKEY_CLASSES_ROOT derived
// from the server file's own name, so that copies under different names do not collide.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace kestrave::testing {

inline std::wstring TestServerClsidKey(const std::wstring& fileName) {
    unsigned long long hash = 1469598103934665603ull;  // FNV-1a over the lower-cased name
    for (wchar_t c : fileName) {
        wchar_t lower = static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(
            CharLowerW(reinterpret_cast<wchar_t*>(static_cast<ULONG_PTR>(c)))));
        hash = (hash ^ static_cast<unsigned>(lower)) * 1099511628211ull;
    }
    wchar_t key[80];
    swprintf(key, 80, L"CLSID\\{4B657374-7261-7665-%04X-%012llX}",
             static_cast<unsigned>(hash >> 48), hash & 0xFFFFFFFFFFFFull);
    return key;
}

}  // namespace kestrave::testing
