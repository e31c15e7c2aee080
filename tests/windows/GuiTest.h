// What the window and dialog tests share: a main window started on
// settings made for the test, a datagram client on 127.0.0.1, and a driver
// for the modal dialogs and message boxes that open on this thread.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "../../ui/MainWindow.h"
#include "WinTest.h"

// Pumps this thread's messages until pred() holds or `ms` have passed;
// returns pred().
template <typename Pred>
bool PumpUntil(Pred pred, DWORD ms = 10000) {
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > ms) return pred();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Not ours to swallow: leave it for the loop that waits.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return pred();
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!pred()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

// Drives the dialogs and message boxes that open on this thread while it
// lives. Each window that opens is recorded and gets the next step, run
// from a timer inside the window's own modal loop once it is up; a window
// with no step left is answered with IDOK, so no test blocks on it.
class DialogDriver {
public:
    using Step = std::function<void(HWND)>;
    struct Opened {
        HWND hwnd;
        HWND owner;
        std::string caption;
        std::string text; // a message box's text
    };
    DialogDriver();
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    DialogDriver& Then(Step step) {
        steps.push_back(std::move(step));
        return *this;
    }
    // Runs step on `window` once the messages already queued are handled.
    void Later(HWND window, Step step);
    // Captions of the windows opened so far, in order.
    std::vector<std::string> Captions() const;

    std::vector<Opened> opened;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD);
    HHOOK hook;
    std::deque<Step> steps;
    std::set<HWND> live;
    std::map<UINT_PTR, std::pair<HWND, Step>> armed;
};

// Control helpers for steps.
void TypeInto(HWND dialog, int id, const std::string& text); // replaces the text, as typed
void Press(HWND dialog, int id);                             // a click on the button
void PressKey(HWND dialog, int id, WPARAM key);              // a key down in the control
void CloseBox(HWND dialog);                                  // the caption's close box

uint16_t FreeUdpPort();

// A datagram client on 127.0.0.1. The server runs on this thread, so a
// receive pumps messages while it waits.
class UdpClient {
public:
    explicit UdpClient(uint16_t serverPort);
    ~UdpClient();
    UdpClient(const UdpClient&) = delete;
    UdpClient& operator=(const UdpClient&) = delete;
    void Send(uint8_t command, const std::string& path = "", uint32_t position = 0);
    bool Pending(); // a datagram is waiting
    // The reply's command code, or -1 when none came within ms; *text gets
    // its data up to the NUL.
    int Receive(std::string* text = nullptr, DWORD ms = 10000);

private:
    SOCKET s = INVALID_SOCKET;
    uint16_t sequence = 1;
    uint16_t key = 0; // of the last reply, sent back as clients do
};

// The settings the window under test starts with.
struct GuiSettings {
    unsigned long port = 0;
    std::string root, log;
    unsigned long logging = 1, uploadOnly = 1, readWrite = 0, revName = 0, privMode = 0, thruOut = 0;
    std::vector<std::string> hosts; // the host table's rules
};
void StoreSettings(const GuiSettings& s);
unsigned long StoredFlag(const char* name);
std::string StoredText(const char* name);

bool Checked(HWND window, UINT id);
bool Grayed(HWND window, UINT id);
std::string Caption(HWND window);
std::string StatusText(MainWindow& window); // the status bar's line

// A main window serving a fresh temporary root on a free port, logging to
// a temporary file; destroyed, with its server, at the end of each test.
class GuiTest : public testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;
    void Open(); // starts the window with `settings`
    MainWindow& Window() { return *window; }
    HWND Hwnd() { return window->hWnd; }

    TempDir dir;
    GuiSettings settings;
    std::unique_ptr<MainWindow> window;
};
