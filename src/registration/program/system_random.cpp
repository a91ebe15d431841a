#include "system_random.h"

#include <bcrypt.h>

#include <vector>

namespace kestrave {

std::wstring RandomHexDigits(std::size_t digits, DWORD& error) {
    std::vector<UCHAR> bytes((digits + 1) / 2);
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
        error = ERROR_GEN_FAILURE;
        return {};
    }
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text;
    for (UCHAR byte : bytes) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0xF]);
    }
    text.resize(digits);
    return text;
}

}  // namespace kestrave
