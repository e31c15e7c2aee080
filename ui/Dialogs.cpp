// The operator's dialogs and the asynchronous host-name lookup.
#include "Dialogs.h"

#include <cstdio>
#include <cstring>

#include "../engine/FSPDaemon.h"
#include "Ctl3d.h"
#include "Main.h"
#include "resource.h"

// One lookup at a time, program-wide: a second lookup started before the
// first has finished takes over both.
static unsigned long _inetaddr;
static char _NameInfo[MAXGETHOSTSTRUCT];

namespace {
// What the three dialogs share: the raised look on every control, and the
// library's colours for them. Returns 1 when the message was one of these,
// with *result what the procedure returns.
int CommonDialogMessage(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
    if (msg == WM_INITDIALOG) {
        Ctl3dSubclassDlgEx(dlg, 0xFFFF);
        *result = TRUE; // the platform sets the focus
        return 1;
    }
    if (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) {
        // Without the library, the dialog's own colours serve.
        *result = reinterpret_cast<INT_PTR>(Ctl3dCtlColorEx(msg, wParam, lParam));
        return 1;
    }
    return 0;
}

// A port as the operator types it: a decimal number from 1 to 65535,
// blanks around it allowed. Anything else would bind a port no client
// knows (text reads as 0, which binds any free port; more than 16 bits
// wrap round).
int ParsePort(const char* text, int* port) {
    while (*text == ' ') ++text;
    long value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
        value = value * 10 + (*text - '0');
        if (value > 65535) return 0;
    }
    while (*text == ' ') ++text;
    if (!digits || *text || value == 0) return 0;
    *port = static_cast<int>(value);
    return 1;
}

// The largest throughput limit taken, bytes a second.
constexpr UINT kMaxThruPut = 2000000000;

// Tells the operator why the text of control id is refused, and leaves
// the dialog open with that text selected for mending.
void Refuse(HWND dlg, int id, const char* text) {
    MessageBoxA(dlg, text, "VrelFSPd", MB_OK | MB_ICONEXCLAMATION);
    HWND edit = GetDlgItem(dlg, id);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
}
} // namespace

INT_PTR FSPDaemon::Configure() {
    return DialogBoxParamA(Main::hInstance, "CONFIG_DIALOG", hWnd, ConfigDlgProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR FSPDaemon::TestFunction() { return Configure(); }

HANDLE FSPDaemon::DNSLookup() {
    if (DialogBoxParamA(Main::hInstance, "DNS_DIALOG", hWnd, DNSDlgProc, 0) <= 0) return nullptr;
    return WSAAsyncGetHostByAddr(Main::hMainWindow, WM_FSP_DNS,
                                 reinterpret_cast<const char*>(&_inetaddr), 4, AF_INET,
                                 _NameInfo, sizeof(_NameInfo));
}

void FSPDaemon::DNSLookup(WPARAM, LPARAM lParam) {
    if (WSAGETASYNCERROR(lParam) != 0) {
        MessageBoxA(hWnd, "Unable to resolve name", "DNS Lookup", MB_ICONEXCLAMATION);
        return;
    }
    const hostent* entry = reinterpret_cast<const hostent*>(_NameInfo);
    MessageBoxA(hWnd, entry->h_name ? entry->h_name : "", "DNS Lookup", MB_OK);
}

INT_PTR CALLBACK FSPDaemon::DNSDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    INT_PTR result;
    if (CommonDialogMessage(dlg, msg, wParam, lParam, &result)) return result;
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            char text[50] = {};
            GetDlgItemTextA(dlg, IDC_DNSADDR, text, sizeof(text));
            // Not checked: text that is no address looks up the all-ones
            // address, and the lookup reports the failure.
            _inetaddr = inet_addr(text);
            EndDialog(dlg, 1);
        }
        // Cancel and Escape end it without a lookup.
        if (LOWORD(wParam) == IDCANCEL) EndDialog(dlg, 0);
        return TRUE;
    case WM_CLOSE:
        EndDialog(dlg, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK FSPDaemon::ConfigDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    // The server this dialog configures, from its initialisation on.
    static FSPDaemon* daemon = nullptr;
    INT_PTR result;
    if (msg == WM_INITDIALOG) {
        daemon = reinterpret_cast<FSPDaemon*>(lParam);
        SetDlgItemTextA(dlg, IDC_ROOT, daemon->rootPath);
        SetDlgItemInt(dlg, IDC_PORT, static_cast<UINT>(daemon->port), FALSE);
        SetDlgItemInt(dlg, IDC_THRUPUT, static_cast<UINT>(daemon->thruPut), FALSE);
    }
    if (CommonDialogMessage(dlg, msg, wParam, lParam, &result)) return result;
    switch (msg) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            // One character more than a usable root can have, so that a
            // longer one is seen to be too long rather than cut.
            char root[MAX_PATH + 1] = {};
            GetDlgItemTextA(dlg, IDC_ROOT, root, sizeof(root));
            char portText[256] = {};
            GetDlgItemTextA(dlg, IDC_PORT, portText, sizeof(portText));
            int port = 0;
            char problem[fsp::kMaxPath + 160];
            if (!fsp::UsableRoot(root)) {
                char text[512];
                std::snprintf(text, sizeof(text), "The server root must be %s.", fsp::kRootRule);
                Refuse(dlg, IDC_ROOT, text);
                break;
            }
            // Nothing would be served from it: every request would fail.
            if (!daemon->JudgeRoot(root, problem, sizeof(problem))) {
                char text[sizeof(problem) + 160];
                std::snprintf(text, sizeof(text), "This root cannot be served: %s.\n\nThe server root must be an "
                              "existing folder outside %s in the working directory.",
                              problem, fsp::kUploadFolder);
                Refuse(dlg, IDC_ROOT, text);
                break;
            }
            if (!ParsePort(portText, &port)) {
                Refuse(dlg, IDC_PORT, "The port must be a number from 1 to 65535.");
                break;
            }
            BOOL numeric = FALSE;
            UINT thruPut = GetDlgItemInt(dlg, IDC_THRUPUT, &numeric, FALSE);
            if (!numeric || thruPut < fsp::Throughput::kMinLimit || thruPut > kMaxThruPut) {
                Refuse(dlg, IDC_THRUPUT,
                       "The throughput must be a number of bytes a second from 1036 (one full reply "
                       "a second) to 2000000000.");
                break;
            }
            // A new port is bound at once; one that cannot be bound is
            // refused, and the port bound now serves on.
            const bool rebind = port != daemon->boundPort || daemon->serverSocket == INVALID_SOCKET;
            if (rebind) {
                char why[512];
                if (!daemon->BindPort(port, why, sizeof(why))) {
                    Refuse(dlg, IDC_PORT, why);
                    break;
                }
                daemon->portOfOtherType = 0;
            }
            // Both take effect at once: the root serves the very next request.
            std::memcpy(daemon->rootPath, root, sizeof(daemon->rootPath));
            daemon->rootUsable = 1;
            daemon->port = port;
            // Takes effect at once, with the save.
            daemon->thruPut = thruPut;
            daemon->SaveSettings();
            daemon->CheckRoot();
            if (rebind) daemon->LogServing();
            EndDialog(dlg, 1);
            break;
        }
        case IDCANCEL:
            EndDialog(dlg, 1);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dlg, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK AboutDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    INT_PTR result;
    if (CommonDialogMessage(dlg, msg, wParam, lParam, &result)) return result;
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dlg, 1);
        return TRUE;
    case WM_CLOSE:
        EndDialog(dlg, 1);
        return TRUE;
    default:
        return FALSE;
    }
}
