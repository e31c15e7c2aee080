// Security > Hosts...: the operator's host table, one rule a line.
#include <cstdio>
#include <string>
#include <vector>

#include "../engine/FSPDaemon.h"
#include "Ctl3d.h"
#include "Main.h"
#include "resource.h"

namespace {
// The edit control's text as lines, CR LF or LF between them.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    while (!lines.empty() && lines.back().find_first_not_of(" \t") == std::string::npos) lines.pop_back();
    return lines;
}
} // namespace

INT_PTR FSPDaemon::EditHosts() {
    return DialogBoxParamA(Main::hInstance, "HOSTS_DIALOG", hWnd, HostsDlgProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK FSPDaemon::HostsDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    static FSPDaemon* daemon = nullptr;
    switch (msg) {
    case WM_INITDIALOG: {
        daemon = reinterpret_cast<FSPDaemon*>(lParam);
        Ctl3dSubclassDlgEx(dlg, 0xFFFF);
        std::string text;
        for (const std::string& rule : daemon->hostRules) text += rule + "\r\n";
        SetDlgItemTextA(dlg, IDC_HOSTS, text.c_str());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            HWND edit = GetDlgItem(dlg, IDC_HOSTS);
            std::string text(size_t(GetWindowTextLengthA(edit)) + 1, '\0');
            text.resize(size_t(GetWindowTextA(edit, &text[0], int(text.size()))));
            std::vector<std::string> rules = Lines(text);
            std::string bad;
            if (!daemon->SetHosts(rules, &bad)) {
                // The rule's line is selected for mending; the table in
                // force stays as it was.
                unsigned line = 0;
                std::sscanf(bad.c_str(), "Rule %u", &line);
                MessageBoxA(dlg, (bad + ".").c_str(), "Hosts", MB_OK | MB_ICONEXCLAMATION);
                int from = int(SendMessageA(edit, EM_LINEINDEX, line ? line - 1 : 0, 0));
                int length = int(SendMessageA(edit, EM_LINELENGTH, from, 0));
                SetFocus(edit);
                SendMessageA(edit, EM_SETSEL, from, from + length);
                return TRUE;
            }
            daemon->SaveHosts(rules);
            EndDialog(dlg, 1);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dlg, 0);
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dlg, 0);
        return TRUE;
    default:
        if (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC)
            return reinterpret_cast<INT_PTR>(Ctl3dCtlColorEx(msg, wParam, lParam));
        return FALSE;
    }
}
