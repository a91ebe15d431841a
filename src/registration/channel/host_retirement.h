// Why a host stops serving after a request, as a number both sides know. The host's word on it
// is only ever counted for figures: the program retires a host on it (which can only make it
// safer) and never decides anything about a file from it.
#pragma once

namespace kestrave {

enum class HostRetirement {
    None,               // serves on
    ServerStillMapped,  // the server's own library stayed mapped after its release
    LibraryOutside,     // a library it left mapped lies outside the system and Windows folders
    LibraryOfTheBatch,  // a library it left mapped is a file this host was asked to load
    ThreadLeft,         // a thread it started still runs
    CannotTell,         // the host could not list its modules or threads
    ProgramGone,        // the program did not take a reply, or did not let the worker go
    StateNotSetBack,    // what a server changed in the process could not be set back
};

inline constexpr unsigned long kLastHostRetirement =
    static_cast<unsigned long>(HostRetirement::StateNotSetBack);

}  // namespace kestrave
