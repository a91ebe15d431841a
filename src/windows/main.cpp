// Kestrave: registers and unregisters COM servers in batches.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "host_main.h"
#include "main_window.h"
#include "options_dialog.h"
#include "options_record.h"
#include "program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Started by the program itself to load servers away from its own process.
    HANDLE hostPipe = nullptr;
    if (kestrave::IsRegistrationHostCommandLine(GetCommandLineW(), hostPipe))
        return kestrave::RunRegistrationHost(hostPipe);

    return kestrave::RunGuarded([] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        // The shell's folder browser needs a single-threaded apartment on this thread.
        OleInitialize(nullptr);

        kestrave::Options options;
        kestrave::MainWindow mainWindow(options);
        kestrave::OptionsDialog dialog(options, mainWindow);
        mainWindow.SetOptionsDialog(dialog);
        options.SetDialogLoader([&dialog] { dialog.Load(); });

        mainWindow.Show();
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        kestrave::EndProgram();
        return 0;
    });
}
