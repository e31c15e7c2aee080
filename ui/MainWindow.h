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
    // Puts the server's state into the status bar, when it changed.
    void ShowStatus();

    // The status bar under the band: one line from FSPDaemon::Status.
    HWND statusBar = nullptr;
    static constexpr int kStatusBarId = 100;

    FSPDaemon daemon;
    static const char szClassName[];
    static constexpr UINT_PTR kExpiryTimer = 1;
    static constexpr UINT_PTR kBurstTimer = 2;
    // At hundreds of requests a second a caption switched per request is a
    // flicker no one can read, and each switch and repaint costs more than
    // serving the request under Wine: the caption says "active" for a
    // burst, and the band is repainted at most every kBandInterval.
    static constexpr ULONGLONG kBandInterval = 50; // ms
    static constexpr ULONGLONG kQuietTime = 100;   // ms without a request that end a burst
    static constexpr UINT kBurstTick = 25;         // ms

private:
    void RequestServed();
    void BurstTick();
    void RepaintBand(ULONGLONG now);

    bool busy = false;      // the caption says "active"
    bool bandStale = false; // the band shows an older count than the server's
    ULONGLONG lastRequest = 0, lastRepaint = 0;
    // Loaded or made at the first paint and kept: the window is repainted
    // many times a second while requests come.
    HBITMAP logo = nullptr;
    bool logoTried = false;
    HFONT font = nullptr;
    char statusText[512] = {};
    // Pixels per inch of the window's monitor: sizes are given at 96.
    int dpi = 96;
    int Scaled(int pixels) const { return MulDiv(pixels, dpi, 96); }
    // Sizes the window for dpi: the contents' size, and the status bar below.
    void FitWindow(const RECT* suggested);
};
