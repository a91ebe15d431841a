// The closing message of a batch: what went wrong with which file, in the user's words.
// Plain text composition, apart from any window, so that every wording can be checked alone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "server_entry.h"

namespace kestrave {

// Longer lists are cut after this many paths and a "......" line.
inline constexpr int kListedPathLimit = 12;

// A file the batch left unfinished, and why. An empty reason means the path alone says enough.
struct UnfinishedFile {
    std::wstring path;
    std::wstring reason;
};

// What a registering run met, in list order.
struct RegisterSummary {
    int registeredCount = 0;
    std::vector<std::wstring> missingSources;  // full paths whose source file was gone
    std::vector<UnfinishedFile> failures;      // sources present but not registered
    std::vector<UnfinishedFile> keptSources;   // left in place although deleting was asked for
    bool warnMissingSource = true;
};

// What an unregistering run met, in list order.
struct UnregisterSummary {
    std::vector<UnfinishedFile> failures;  // system copies not unregistered, or not deleted
    bool failedFilesWereToBeDeleted = false;
};

struct ClosingMessage {
    std::wstring text;
    int style = 0;
};

ClosingMessage RegisterClosingMessage(const RegisterSummary& summary);
ClosingMessage UnregisterClosingMessage(const UnregisterSummary& summary);

// The parts a registering run's message is made of.
std::wstring MissingSourceWarning(const std::vector<std::wstring>& missingSources,
                                  bool othersRegistered);
std::wstring RegistrationFailureList(const std::vector<UnfinishedFile>& failures);
std::wstring KeptSourceList(const std::vector<UnfinishedFile>& keptSources);

// Why an entry call did not succeed; empty when it did.
std::wstring EntryFailureReason(const EntryResult& result, bool unregister);
std::wstring CopyFailureReason(DWORD error);
std::wstring DeleteFailureReason(DWORD error);

}  // namespace kestrave
