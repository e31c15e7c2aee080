// The one main window: it hosts the server, routes the socket and lookup
// messages to it, and carries the operator's menu.
#pragma once

#include "../engine/FSPDaemon.h"
#include "Window.h"

class MainWindow : public Window {
public:
    MainWindow();
    ~MainWindow() override;
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void WMCommand(unsigned id, LPARAM lParam);
    void Paint();

    // Registers the window class; 0 when that fails.
    static int RegisterWindowClass(HINSTANCE instance);

    FSPDaemon daemon;
    static const char szClassName[];
    static constexpr UINT_PTR kExpiryTimer = 1;

private:
    // Loaded or made at the first paint and kept: the window is repainted
    // after every request.
    HBITMAP logo = nullptr;
    bool logoTried = false;
    HFONT font = nullptr;
};
