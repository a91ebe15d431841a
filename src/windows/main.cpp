// Kestrave: registers and unregisters COM servers in batches.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "fatal_error.h"
#include "host_main.h"
#include "main_window.h"
#include "options_dialog.h"
#include "options_record.h"

namespace {

// The shell's folder browser needs a single-threaded apartment on this thread; it is left when
// the program ends.
class OleApartment {
  public:
    OleApartment() : entered_(SUCCEEDED(OleInitialize(nullptr))) {}
    ~OleApartment() {
        if (entered_)
            OleUninitialize();
    }
    OleApartment(const OleApartment&) = delete;
    OleApartment& operator=(const OleApartment&) = delete;

  private:
    bool entered_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Started by the program itself to load servers away from its own process.
    HANDLE hostPipe = nullptr;
    if (kestrave::IsRegistrationHostCommandLine(GetCommandLineW(), hostPipe))
        return kestrave::RunRegistrationHost(hostPipe);

    return kestrave::RunGuarded([] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        const OleApartment apartment;

        kestrave::Options options;
        kestrave::MainWindow mainWindow(options);
        kestrave::OptionsDialog dialog(options, mainWindow);
        mainWindow.SetOptionsDialog(dialog);
        options.SetDialogLoader([&dialog] { dialog.Load(); });

        mainWindow.Show();
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
