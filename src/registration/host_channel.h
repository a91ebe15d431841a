// The pipe between the program and a registration host. Each message is a few text fields,
// written and read whole (the pipe keeps message boundaries).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrave {

using HostMessage = std::vector<std::wstring>;

// The largest message either side sends: a verb and a few paths and reasons.
inline constexpr DWORD kHostMessageLimit = 64 * 1024;

std::string EncodeHostMessage(const HostMessage& message);
HostMessage DecodeHostMessage(const char* bytes, size_t size);

// The host's side: plain blocking calls. False once the program has gone.
bool WriteHostMessage(HANDLE pipe, const HostMessage& message);
bool ReadHostMessage(HANDLE pipe, HostMessage& message);

// Fields carry numbers as decimal text.
std::wstring NumberField(unsigned long value);
unsigned long FieldNumber(const HostMessage& message, size_t index);
std::wstring Field(const HostMessage& message, size_t index);

}  // namespace kestrave
