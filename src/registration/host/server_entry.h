// Running a COM server's self-registration export. This happens only inside a registration
// host: a server's code never runs in the program's own process.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "entry_result.h"
#include "host_retirement.h"

namespace kestrave {

// Loads the server at `path` and runs its DllRegisterServer (or DllUnregisterServer) on a
// thread of its own in a single-threaded apartment. The thread is ended before the library is
// released, so the windows, timers and hooks it made go with it, and it has ended, whatever the
// outcome, when this returns. `beforeLoading` is given that thread's id once it exists, held
// before running anything of the server's, and runs just before the load: from then on the
// server's code may run. When it says no, nothing is loaded and the outcome is WorkerNotStarted
// with ERROR_CANCELLED. A thread that ends its export by its own exit code instead of returning
// did not finish its work: its outcome is Finished with that code if it is a failure, E_ABORT
// otherwise. A returned export's result is the thread's exit code too. `loadedAt`, when given,
// receives where the library was mapped (null when it was not). No time limit here: the program
// ends the whole host when it overruns.
EntryResult CallServerEntry(const std::wstring& path, bool unregister,
                            const std::function<bool(DWORD workerThread)>& beforeLoading = {},
                            HMODULE* loadedAt = nullptr);

// Starts the thread the next server will run on, so that starting it overlaps the program's
// own work between two files.
void PrepareServerThread();
// The id of the thread PrepareServerThread made, waiting for the next server; 0 when none is.
DWORD PreparedServerThreadId();

// Takes the count of this process's own threads, against which leftovers are judged. Call it
// once, before the first server is loaded.
void NoteOwnThreads();

// The libraries mapped in this process now.
std::vector<HMODULE> LoadedModules();

// What a server left behind in this process that could reach the next one, or None. A thread
// still running, its own library still mapped at `loadedAt` (null when it never loaded), or a
// library mapped now that was not in `modulesBefore` and either lies outside the system folder,
// the Windows folder and its side-by-side store, or is one of `servedFiles` (the lower-case
// paths this host was asked to load): the next server would not get it from the same place
// anyway. A system library the server left mapped is what any next server that needs it would
// load from there.
HostRetirement ServerLeftSomethingBehind(HMODULE loadedAt,
                                         const std::vector<HMODULE>& modulesBefore,
                                         const std::set<std::wstring>& servedFiles);

// True when `path` (a library's full path) lies in the system folder, in the Windows folder
// itself or in its side-by-side store.
bool IsSystemLibraryPath(const std::wstring& path);

// `path` in lower case, as the served files are noted.
std::wstring LowerPath(std::wstring path);

}  // namespace kestrave
