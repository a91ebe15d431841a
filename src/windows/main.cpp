// Kestrave: registers and unregisters COM servers in batches.
#include <windows.h>

#include <cstdlib>

#include "fatal_error.h"
#include "handles.h"
#include "host_folder_sweep.h"
#include "main_window.h"
#include "options_dialog.h"
#include "options_record.h"
#include "program.h"
#include "system_libraries.h"

// The program carries its registration hosts, and its size counts. Every exception of ours is
// caught and shown (RunGuarded); the runtime's default end for one that escapes anyway prints
// its demangled name to a console a windowed program does not have, and brings a demangler and
// a formatter with it: a plain end takes its place, as in the hosts.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx

namespace {

DWORD WINAPI SweepOldHostFoldersThread(void*) {
    try {
        kestrave::SweepOldHostFolders();
    } catch (...) {
        // Nothing to tell the user: what is left is swept at the next start.
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before any other DLL is loaded: they are all delay-loaded (see
    // cmake/program_linking.cmake), so from here on every one comes from the system folder.
    kestrave::LoadLibrariesOnlyFromSystemFolder();
    return kestrave::RunGuarded([] {
        kestrave::Options options;
        kestrave::MainWindow mainWindow(options);
        kestrave::OptionsDialog dialog(options, mainWindow);
        mainWindow.SetOptionsDialog(dialog);
        options.SetDialogLoader([&dialog] { dialog.Load(); });

        mainWindow.Show();
        // What earlier runs left behind goes once the window is up, on a thread that owns
        // nothing of it. It needs no end of its own: it is short, and ending the process in
        // the middle of it leaves nothing half-done that the next sweep cannot take.
        const kestrave::KernelHandle sweep(
            CreateThread(nullptr, 0, SweepOldHostFoldersThread, nullptr, 0, nullptr));
        MSG message{};
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (kestrave::Form::TranslateKeyboard(message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        // The windows go before the apartment they were made in.
        return static_cast<int>(message.wParam);
    });
}
