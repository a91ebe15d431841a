#include "host_channel.h"

#include <cstring>
#include <cwchar>

namespace kestrave {

// Fields are ended by a NUL each; no path or reason holds one.
std::string EncodeHostMessage(const HostMessage& message) {
    std::wstring joined;
    for (const std::wstring& field : message) {
        joined += field;
        joined.push_back(L'\0');
    }
    return std::string(reinterpret_cast<const char*>(joined.data()),
                       joined.size() * sizeof(wchar_t));
}

HostMessage DecodeHostMessage(const char* bytes, size_t size) {
    HostMessage message;
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!text.empty())
        std::memcpy(text.data(), bytes, text.size() * sizeof(wchar_t));
    size_t start = 0;
    for (size_t end = text.find(L'\0'); end != std::wstring::npos;
         start = end + 1, end = text.find(L'\0', start)) {
        message.push_back(text.substr(start, end - start));
    }
    return message;
}

bool WriteHostMessage(HANDLE pipe, const HostMessage& message) {
    const std::string bytes = EncodeHostMessage(message);
    DWORD written = 0;
    return WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool ReadHostMessage(HANDLE pipe, HostMessage& message) {
    std::string buffer(kHostMessageLimit, '\0');
    DWORD read = 0;
    if (!ReadFile(pipe, buffer.data(), kHostMessageLimit, &read, nullptr))
        return false;
    message = DecodeHostMessage(buffer.data(), read);
    return true;
}

std::wstring NumberField(unsigned long value) {
    return std::to_wstring(value);
}

unsigned long FieldNumber(const HostMessage& message, size_t index) {
    return index < message.size() ? std::wcstoul(message[index].c_str(), nullptr, 10) : 0;
}

std::wstring Field(const HostMessage& message, size_t index) {
    return index < message.size() ? message[index] : std::wstring();
}

}  // namespace kestrave
