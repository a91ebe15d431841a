#include "entry_result.h"

namespace kestrave {

const wchar_t* EntryExportName(bool unregister) {
    return unregister ? L"DllUnregisterServer" : L"DllRegisterServer";
}

}  // namespace kestrave
