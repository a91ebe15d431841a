// A helper library a server needs: it exports EXPORTED_FUNCTION, which calls NEEDED_FUNCTION
// of yet another library when the build names one.
#include <windows.h>

#ifdef NEEDED_FUNCTION
extern "C" __declspec(dllimport) int NEEDED_FUNCTION();
#endif

extern "C" __declspec(dllexport) int EXPORTED_FUNCTION() {
#ifdef NEEDED_FUNCTION
    return NEEDED_FUNCTION();
#else
    return 0;
#endif
}
