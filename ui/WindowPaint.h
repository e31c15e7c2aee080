// What the main window paints, in one place: vfspd's window and the
// benchmark's floor echo, which must do exactly the same window work.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdio>

// Paints, between BeginPaint and EndPaint: the logo above the line (only
// where that part is invalid; after a request only the band below is),
// the line, and the band of texts under it, cleared first. The band is
// invalidated without erasing, so a shorter address would otherwise leave
// the tail of a longer one ("127.0.0.1" after "127.0.0.100").
inline void PaintWindow(HWND hwnd, const PAINTSTRUCT& ps, HBITMAP logo, HFONT font,
                        unsigned long requestCount, const in_addr& lastClient) {
    SetBkColor(ps.hdc, GetSysColor(COLOR_MENU));
    if (logo && ps.rcPaint.top < 100) {
        BITMAP bm;
        GetObjectA(logo, sizeof(bm), &bm);
        HDC memory = CreateCompatibleDC(ps.hdc);
        HGDIOBJ old = SelectObject(memory, logo);
        BitBlt(ps.hdc, 0, 0, bm.bmWidth, bm.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    SelectObject(ps.hdc, GetStockObject(BLACK_PEN));
    MoveToEx(ps.hdc, 0, 100, nullptr);
    LineTo(ps.hdc, 800, 100);
    RECT band;
    GetClientRect(hwnd, &band);
    band.top = 101;
    FillRect(ps.hdc, &band, GetSysColorBrush(COLOR_MENU));
    HGDIOBJ previous = SelectObject(ps.hdc, font);
    char text[80];
    int n = std::snprintf(text, sizeof(text), "Number of Requests: %lu", requestCount);
    TextOutA(ps.hdc, 10, 120, text, n);
    if (requestCount != 0) {
        n = std::snprintf(text, sizeof(text), "Return Address: %s", inet_ntoa(lastClient));
        TextOutA(ps.hdc, 10, 140, text, n);
    }
    SelectObject(ps.hdc, previous);
}

// The texts' font, made once.
inline HFONT MakeWindowFont() { return CreateFontA(-12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Arial"); }
