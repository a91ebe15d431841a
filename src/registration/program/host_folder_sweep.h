// The start-up sweep of the host folders that earlier runs left behind (a run that was killed,
// or a machine that went down, cannot take its own away). The folder they are in is shared by
// every program that runs as an administrator, and a folder there may have been put in our way:
// the sweep removes only what a run of ours wrote, and nothing it cannot be sure of.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kestrave {

// A name a run gives its folder: kHostFolderPrefix and kHostFolderRandomDigits lowercase
// hexadecimal digits, nothing else.
bool IsHostFolderName(const std::wstring& name);

// True when `descriptor` names the Administrators group or the system as owner: what an elevated
// run makes is owned so, and a folder anybody else made is none of ours.
bool IsOwnedByAdministratorsOrSystem(PSECURITY_DESCRIPTOR descriptor);

// True when `descriptor` names as owner the Administrators group, the system, this process's
// token's default owner, or `madeByUs` (the owner a folder this process made was given): what an
// elevated run of ours makes is owned so, and a folder anybody else made is none of ours. On
// Windows a run's folder gets the default owner, which is Administrators only where the system's
// policy says so; Wine keeps no owners and names the account for every file.
bool IsOwnedAsOurRunsOwnTheirFolders(PSECURITY_DESCRIPTOR descriptor, PSID madeByUs = nullptr);

// The owner the system gives a folder this process makes under `base` as a run makes its own,
// read back from one made for the purpose and taken away at once; empty when none could be
// made.
std::vector<BYTE> OwnerOfAFolderMadeIn(const std::wstring& base);

// Decides from a folder's security descriptor whether the sweep may touch it.
using OwnerRule = std::function<bool(PSECURITY_DESCRIPTOR descriptor)>;

// Sweeps `base`: a folder there is taken away only when its name is ours, it is a real folder
// (not a link or a junction), its owner passes `ownerRule` and its run is over (nobody holds it
// or a host file in it open). Only the host files are deleted, each by a handle to the file
// itself, never through a link; a folder that holds anything else keeps it and stays. Gives how
// many folders were removed.
int SweepHostFolders(const std::wstring& base, const OwnerRule& ownerRule);
// The same with the owners a run of ours gives its folder (IsOwnedAsOurRunsOwnTheirFolders).
int SweepHostFolders(const std::wstring& base);

// The system's ProgramData folder (FOLDERID_ProgramData), whatever the environment says; empty
// when the system cannot say.
std::wstring SystemProgramDataFolder();

// The program's sweep at start: under the system's ProgramData. Touches no window, so it may run
// on a thread of its own.
void SweepOldHostFolders();

}  // namespace kestrave
