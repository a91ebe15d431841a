// A COM server whose load fails, or whose calls cannot be bound, for a reason outside itself:
// the build chooses which library function it needs (NEEDED_FUNCTION) and where that comes
// from. With REFUSE_TO_LOAD its DllMain says no, a failure that no missing file explains.
#include <windows.h>

#if defined(NEEDED_FUNCTION) && defined(DELAY_LOADED)
// Called through the delay-import library's own thunk: binutils' 32-bit delay-import libraries
// leave the import slot empty until the helper fills it, so a call straight through that slot
// (what dllimport makes) jumps to address 0 instead of reaching the helper.
extern "C" int NEEDED_FUNCTION();
#elif defined(NEEDED_FUNCTION)
extern "C" __declspec(dllimport) int NEEDED_FUNCTION();
#endif

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
#ifdef REFUSE_TO_LOAD
    return reason != DLL_PROCESS_ATTACH;
#else
    (void)reason;
    return TRUE;
#endif
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
#ifdef NEEDED_FUNCTION
    return NEEDED_FUNCTION() == 0 ? S_OK : E_FAIL;
#else
    return S_OK;
#endif
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return S_OK;
}
