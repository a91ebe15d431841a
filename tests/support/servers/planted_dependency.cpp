// The library planted_import_server imports. It is built into a folder of its own, so that only
// a test that plants it somewhere makes it findable.
#include <windows.h>

extern "C" __declspec(dllexport) int PlantedDependencyValue() {
    return 42;
}
