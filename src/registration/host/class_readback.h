// After a server registered itself: do the classes it implements lead to the file that was
// just registered? A server may write a fixed path, keep an entry that was there before, or be
// shadowed by a per-user entry; the application then keeps loading the other file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host_findings.h"

namespace kestrave {

struct ClassReadbackInput {
    std::wstring copy;                   // the file that was registered, by its full path
    FILETIME registrationStarted;        // taken just before the registration export was called
    bool copyIs64 = sizeof(void*) == 8;  // which registry view its classes are in
    std::wstring systemFolder;           // where a bare file name points; empty: this system's
};

// Reads the copy's type library without registering it (a file without one has nothing to
// check), and for each creatable class reads InprocServer32 from the per-user and then the
// machine-wide classes. A class is named when it leads to another file and either its entry
// was written during this registration or the other file has the copy's name: a type library
// may list classes of sibling libraries, which by themselves are no fault.
std::vector<ClassPointingElsewhere> ReadBackClasses(const ClassReadbackInput& input);

}  // namespace kestrave
