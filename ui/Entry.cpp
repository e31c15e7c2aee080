// The program's entry point.
#include <cstdio>

#include "Ctl3d.h"
#include "Help.h"
#include "Main.h"
#include "MainWindow.h"

namespace {
// Another copy serves these settings: its window comes to the front and
// this copy ends, having touched no setting, file or log.
void ShowRunningCopy() {
    HWND running = FindWindowA(MainWindow::szClassName, nullptr);
    if (running) {
        if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
        SetForegroundWindow(running);
        return;
    }
    // Its window is in another session, another user's.
    MessageBoxA(nullptr, "VrelFSPd is already running on this computer, under another user's name. Only one "
                "copy serves at a time: it owns the port, the log and the files being uploaded.", "VrelFSPd",
                MB_OK | MB_ICONINFORMATION);
}
} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR, int nCmdShow) {
    // One copy per settings key on the whole machine, decided before
    // anything is read or written: a second would empty the first one's
    // upload folder and fail to bind its port.
    char name[MAX_PATH];
    FSPDaemon::InstanceName(name, sizeof(name));
    HANDLE instance = CreateMutexA(nullptr, FALSE, name);
    // Access denied: another user's copy made it.
    if (instance ? GetLastError() == ERROR_ALREADY_EXISTS : GetLastError() == ERROR_ACCESS_DENIED) {
        ShowRunningCopy();
        if (instance) CloseHandle(instance);
        return 0;
    }
    Main::hInstance = hInstance;
    Main::hPrevInstance = hPrevInstance;
    Main::nCmdShow = nCmdShow;
    Ctl3dRegister(hInstance);
    Ctl3dAutoSubclass(hInstance);
    if (!MainWindow::RegisterWindowClass(hInstance)) ExitProcess(0);
    int result;
    {
        MainWindow window;
        result = static_cast<int>(Main::MessageLoop());
        CloseHelp();
        Ctl3dUnregister(hInstance);
    }
    if (instance) CloseHandle(instance);
    return result;
}
