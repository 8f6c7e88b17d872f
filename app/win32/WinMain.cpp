// Program entry of the Windows utility: back-end, single instance, the three windows, the
// message loop.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "app/core/MainState.h"
#include "app/win32/InformationForm.h"
#include "app/win32/MainForm.h"
#include "app/win32/ShutDownForm.h"
#include "app/win32/StartupTimes.h"
#include "app/win32/WinUi.h"
#include "platform/HostPlatform.h"
#include "platform/Platform.h"
#include "platform/windows/WinKernel.h"

using namespace qx::win32;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything else loads a DLL: system DLLs from the system folder only.
    qx::RestrictDllSearchToSystem32();
    // The command line is not read.
    const std::string startTitle = std::string("Quorvex ") + qx::kControllerModel + " Toolbox " + qx::kVersionText;
    std::string error;
    std::unique_ptr<qx::HostPlatform> host = qx::HostPlatform::fromEnvironment(error);
    if (!host) {
        ShowErrorBox(startTitle, error);
        return 1;
    }
    host->install();

    // Another copy running: end at once, without a window, a message or a drive touched.
    if (!qx::platform().kernel->acquireSingleInstance("QXUpdater")) return 0;

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The picture decoder and the file dialog live in this thread's apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    std::unique_ptr<TMainForm> mainForm;
    std::unique_ptr<TShutDownForm> shutDownForm;
    std::unique_ptr<TInformationForm> informationForm;
    try {
        mainForm = std::make_unique<TMainForm>();
        shutDownForm = std::make_unique<TShutDownForm>(mainForm->handle());        // centred on the main window
        informationForm = std::make_unique<TInformationForm>(mainForm->handle());  // placed by the system
        mainForm->setModalForms(shutDownForm.get(), informationForm.get());
        mainForm->setCloseEndsLoop(true);
        StartupTimes::watch(*mainForm);
        mainForm->show();
    } catch (const std::exception& e) {
        ShowErrorBox(mainForm ? mainForm->appTitle() : startTitle, e.what());
        return 0;
    } catch (...) {
        ShowErrorBox(mainForm ? mainForm->appTitle() : startTitle, std::string());
        return 0;
    }

    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        DispatchWithDialogKeys(msg);
    }
    informationForm.reset();
    shutDownForm.reset();
    mainForm.reset();
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}
