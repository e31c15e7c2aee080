// The operator's dialogs and the asynchronous host-name lookup.
#include <cstring>

#include "../engine/FSPDaemon.h"
#include "Main.h"

// One lookup at a time, program-wide.
static char _NameInfo[MAXGETHOSTSTRUCT];

void FSPDaemon::DNSLookup(WPARAM, LPARAM lParam) {
    if (WSAGETASYNCERROR(lParam) != 0) {
        MessageBoxA(hWnd, "Unable to resolve name", "DNS Lookup", MB_ICONEXCLAMATION);
        return;
    }
    const hostent* entry = reinterpret_cast<const hostent*>(_NameInfo);
    MessageBoxA(hWnd, entry->h_name ? entry->h_name : "", "DNS Lookup", MB_OK);
}
