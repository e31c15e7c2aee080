// The About box's procedure; the server's own dialogs are members of
// FSPDaemon.
#pragma once

#include <windows.h>

INT_PTR CALLBACK AboutDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);
