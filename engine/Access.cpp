#define _CRT_RAND_S // rand_s, the platform's random source
// Who is served and how much: the host table, Name Required, the keys
// that stop forged sources, and throughput control. The decisions are the
// core's (core/HostTable, core/Sessions, core/NameCache, core/Throughput);
// this is where the endpoint asks them.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FSPDaemon.h"

namespace {
const char kNameRequired[] = "Name Required: your address has no name";

sockaddr_in AddressOf(const unsigned char* client) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    std::memcpy(&a.sin_port, client, fsp::kClientKeySize);
    return a;
}
} // namespace

uint16_t FSPDaemon::RandomKey() {
    unsigned int r = 0;
    if (rand_s(&r) != 0) r = unsigned(GetTickCount64() * 2654435761u);
    return uint16_t(r >> 8);
}

void FSPDaemon::Refused(uint64_t now, const char* text) {
    ++refusedCount;
    if (refusalLog.Allow(ntohl(clientAddr.sin_addr.s_addr), now)) {
        char line[400];
        std::snprintf(line, sizeof(line), "%s (logged at most once a minute for each address)", text);
        LogClient(line);
    }
}

int FSPDaemon::Admitted() {
    const uint64_t now = GetTickCount64();
    const uint32_t address = ntohl(clientAddr.sin_addr.s_addr);
    // A resend while its reply waits for its turn: the reply answers it.
    if (throughput.Resent(ClientKey(), uint16_t(key), uint16_t(sequence))) return 0;

    const char* message = nullptr;
    fsp::HostAction action = hostTable.Decide(address, privMode, &message);
    if (action == fsp::HostAction::Ignore) {
        Refused(now, hostTable.Closed() ? "Ignored: the host table cannot be read"
                                        : "Ignored by the host table");
        return 0;
    }
    if (action == fsp::HostAction::Serve && revName) {
        TakeNames();
        switch (names.Lookup(address, now)) {
        case fsp::NameCache::Named:
            break;
        case fsp::NameCache::Unnamed:
            action = fsp::HostAction::Deny;
            message = kNameRequired;
            break;
        case fsp::NameCache::Ask:
            resolver.Ask(address);
            return 0;
        default:
            // Not known yet: the request waits unanswered, and the
            // client's resend brings it back.
            return 0;
        }
    }
    uint16_t k = 0;
    if (sessions.Admit(ClientKey(), uint16_t(key), now, &k) == fsp::SessionTable::Drop) {
        ++droppedCount;
        if (dropLog.Allow(address, now))
            LogClient("Requests with a key this client was not given, beyond the new sessions "
                      "an address may open, are dropped (logged at most once a minute for each "
                      "address)");
        return 0;
    }
    replyKey = k;
    if (action == fsp::HostAction::Deny) {
        char line[300];
        std::snprintf(line, sizeof(line), "Denied: %s", message);
        Refused(now, line);
        Reply(0, reinterpret_cast<const unsigned char*>(message), nullptr, int(std::strlen(message) + 1), 0, 1);
        return 0;
    }
    return 1;
}

void FSPDaemon::TakeNames() {
    const uint64_t now = GetTickCount64();
    for (const NameResolver::Answer& a : resolver.Take()) names.Answer(a.address, a.named, now);
}

void FSPDaemon::Send(const unsigned char* packet, int n) {
    if (throughput.SendNow(n, GetTickCount64())) {
        sendto(serverSocket, reinterpret_cast<const char*>(packet), n, 0,
               reinterpret_cast<const sockaddr*>(&clientAddr), sizeof(clientAddr));
        return;
    }
    // Not kept when too many wait: the client's resend comes back.
    throughput.Queue(ClientKey(), uint16_t(key), packet, n, GetTickCount64());
    ReleaseReplies();
}

void FSPDaemon::ReleaseReplies() {
    int next = throughput.Release(GetTickCount64(), [this](const unsigned char* client,
                                                           const unsigned char* data, int n) {
        sockaddr_in to = AddressOf(client);
        sendto(serverSocket, reinterpret_cast<const char*>(data), n, 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    });
    // The timer's id is this object, which its procedure finds by it.
    UINT_PTR id = reinterpret_cast<UINT_PTR>(this);
    if (next < 0) {
        if (throughputTimer) KillTimer(hWnd, id);
        throughputTimer = false;
    } else if (hWnd) {
        SetTimer(hWnd, id, UINT(next), &FSPDaemon::ThroughputTimer);
        throughputTimer = true;
    }
}

void CALLBACK FSPDaemon::ThroughputTimer(HWND, UINT, UINT_PTR id, DWORD) {
    reinterpret_cast<FSPDaemon*>(id)->ReleaseReplies();
}

void FSPDaemon::ApplyThroughput() {
    throughput.SetLimit(thruOut ? uint32_t(thruPut) : 0, GetTickCount64());
    if (throughput.Waiting()) ReleaseReplies();
}

int FSPDaemon::SetHosts(const std::vector<std::string>& rules, std::string* bad) {
    fsp::HostTable table;
    if (!table.Set(rules, bad)) return 0;
    hostTable = std::move(table);
    hostRules = rules;
    hostsError.clear();
    return 1;
}

void FSPDaemon::TellHosts() {
    std::string text = "The host table (Security > Hosts...) cannot be used: " + hostsError +
                       ".\n\nUntil it is mended, no request is served.";
    MessageBoxA(hWnd, text.c_str(), "VrelFSPd", MB_OK | MB_ICONWARNING);
}
