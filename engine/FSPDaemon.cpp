// The endpoint, the dispatcher and the reply path.
#include "FSPDaemon.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "core/LogText.h"
#include "core/Policy.h"

namespace {
struct Handler {
    uint8_t code;
    void (FSPDaemon::*serve)();
};

// The handler of each row of the access table (core/Policy.h), in its
// order; whether a command may run at all is decided by that table first.
// The build fails when the two tables disagree.
constexpr Handler kHandlers[] = {
    {fsp::CC_VERSION, &FSPDaemon::Version},
    {fsp::CC_GET_DIR, &FSPDaemon::GetDirectory},
    {fsp::CC_GET_FILE, &FSPDaemon::GetFile},
    {fsp::CC_UP_LOAD, &FSPDaemon::Upload},
    {fsp::CC_INSTALL, &FSPDaemon::Install},
    {fsp::CC_DEL_FILE, &FSPDaemon::DeleteFileA},
    {fsp::CC_DEL_DIR, &FSPDaemon::DeleteDirectory},
    {fsp::CC_GET_PRO, &FSPDaemon::GetProtection},
    {fsp::CC_SET_PRO, &FSPDaemon::SetProtection},
    {fsp::CC_MAKE_DIR, &FSPDaemon::MakeDirectory},
    {fsp::CC_BYE, &FSPDaemon::Bye},
    {fsp::CC_GRAB_FILE, &FSPDaemon::GrabFile},
    {fsp::CC_GRAB_DONE, &FSPDaemon::GrabDone},
    {fsp::CC_STAT, &FSPDaemon::Stat},
    {fsp::CC_RENAME, &FSPDaemon::Rename},
};

constexpr bool HandlersFollowPolicy() {
    if (std::size(kHandlers) != std::size(fsp::kPolicy)) return false;
    for (size_t i = 0; i < std::size(kHandlers); ++i)
        if (kHandlers[i].code != fsp::kPolicy[i].code) return false;
    return true;
}
static_assert(HandlersFollowPolicy(), "one handler per row of the access table, in its order");

void SocketError(HWND owner, const char* format) {
    char text[160];
    std::snprintf(text, sizeof(text), format, WSAGetLastError());
    MessageBoxA(owner, text, "VrelFSPd", MB_OK);
    PostQuitMessage(0);
}
} // namespace

FSPDaemon::FSPDaemon() { acceptRequests = 1; }

FSPDaemon::~FSPDaemon() {
    if (serverSocket != INVALID_SOCKET) closesocket(serverSocket);
    if (wsaStarted) WSACleanup();
    // eventLog and then uploadCache are destroyed after this body, in
    // reverse order of declaration.
}

void FSPDaemon::SetupSockets(HWND window) {
    requestCount = 0;
    hWnd = window;
    serverSocket = INVALID_SOCKET;

    LoadSettings();
    // Clears out what an earlier run left in the upload folder.
    uploadCache.Start();
    // The root is kept with a final backslash, as the configuration dialog
    // shows it (BuildLocalPath joins either form); a usable root has room.
    size_t n = std::strlen(rootPath);
    if (rootUsable && rootPath[n - 1] != '\\') {
        rootPath[n] = '\\';
        rootPath[n + 1] = '\0';
    }
    SetStatus(GetMenu(hWnd));

    // A port outside 1 to 65535 would bind another one (its low 16 bits,
    // or any free port for 0), where no client looks: bind nothing.
    const bool portUsable = port >= 1 && port <= 65535;
    if (portUsable) {
        WSADATA wsaData;
        if (WSAStartup(MAKEWORD(1, 1), &wsaData) != 0) {
            MessageBoxA(hWnd, "No TCP found!", "VrelFSPd", MB_OK);
            PostQuitMessage(0);
            return;
        }
        wsaStarted = true;
        serverSocket = socket(AF_INET, SOCK_DGRAM, 0);
        if (serverSocket == INVALID_SOCKET) {
            SocketError(hWnd, "Windows Socket error %d:  Could not create server socket.");
            return;
        }
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(static_cast<u_short>(port));
        if (bind(serverSocket, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
            SocketError(hWnd, "Windows Socket error %d:  Couldn't bind the server socket.");
            return;
        }
        if (WSAAsyncSelect(serverSocket, hWnd, WM_FSP_SOCKET, FD_READ) == SOCKET_ERROR) {
            SocketError(hWnd,
                        "Windows Socket error %d:  WSAAsyncSelect code did not work for the server.");
            return;
        }
    }
    // Only now, with the socket serving: requests are answered while the
    // box waits for the operator.
    if (logging && !eventLog.StartLogFile(logPath))
        MessageBoxA(nullptr, "Unable to open log file", "Error", MB_OK | MB_ICONERROR);
    if (unsavedError) TellUnsaved(unsavedError);
    char text[512];
    if (!portUsable) {
        std::snprintf(text, sizeof(text),
                      "The port in the registry (%d) cannot be used: it must be a number from 1 to "
                      "65535. Nothing is served until one is set with Security > Configuration and "
                      "VrelFSPd is started again.",
                      port);
        MessageBoxA(hWnd, text, "VrelFSPd", MB_OK | MB_ICONWARNING);
    }
    if (!rootUsable) {
        std::snprintf(text, sizeof(text),
                      "The server root in the registry cannot be served: it must be %s. Until "
                      "one is set with Security > Configuration, every request for a file or "
                      "directory is refused.",
                      fsp::kRootRule);
        MessageBoxA(hWnd, text, "VrelFSPd", MB_OK | MB_ICONWARNING);
    }
    if (!hostsError.empty()) TellHosts();
}

void FSPDaemon::IncomingMsg() {
    int addrLength = sizeof(clientAddr);
    int n = recvfrom(serverSocket, reinterpret_cast<char*>(inPacket), sizeof(inPacket), 0,
                     reinterpret_cast<sockaddr*>(&clientAddr), &addrLength);
    // Timer messages wait while datagrams keep coming: replies that wait
    // for their turn are sent from here too.
    if (throughput.Waiting()) ReleaseReplies();
    if (!acceptRequests) return;
    if (n == SOCKET_ERROR) {
        int code = WSAGetLastError();
        // Nothing waiting: a notification that another read already took.
        if (code == WSAEWOULDBLOCK) return;
        std::snprintf(errorText, sizeof(errorText), "Receive Error #%d", code);
        eventLog.Log(reinterpret_cast<sockaddr*>(&clientAddr), errorText, 0);
        return;
    }
    ++requestCount;
    // Short, inconsistent and wrongly summed datagrams are dropped unanswered;
    // a well-formed one too long to serve is told so, never left to time out.
    if (fsp::DecodeTooLong(inPacket, n, this)) {
        if (!Admitted()) return;
        std::snprintf(errorText, sizeof(errorText), "Packet too long: at most %u bytes of data",
                      unsigned(fsp::kMaxRequestPayload));
        ErrorMsg(errorText);
    } else if (fsp::DecodeRequest(inPacket, n, this)) {
        if (!Admitted()) return;
        const fsp::CommandPolicy* policy = fsp::FindPolicy(command);
        const bool remembered = policy && policy->remembered;
        const uint64_t now = GetTickCount64();
        int resent = remembered ? replyCache.Answer(ClientKey(), inPacket, n, now, outPacket) : 0;
        if (resent) {
            // The work was done when the request first came: answer as then,
            // with the key the client holds now.
            fsp::PutU16(outPacket + 2, replyKey);
            outPacket[1] = 0;
            outPacket[1] = uint8_t(fsp::CalcChecksum(outPacket, resent, 1));
            Send(outPacket, resent);
        } else {
            lastReplySize = 0;
            changedCount = 0;
            if (!policy) {
                ErrorMsg("Unsupported Command!");
            } else if (!fsp::Allowed(policy->access, uploadOnly, readWrite)) {
                ErrorMsg(policy->refusal);
            } else {
                (this->*kHandlers[policy - fsp::kPolicy].serve)();
            }
            if (remembered && lastReplySize) {
                const char* changed[fsp::ReplyCache::kMaxPaths];
                for (int i = 0; i < changedCount; ++i) changed[i] = changedPaths[i];
                replyCache.Keep(ClientKey(), inPacket, n, outPacket, lastReplySize, now, changed,
                                changedCount);
            }
        }
    }
}

int FSPDaemon::CalcChecksum(const unsigned char* packet, int n, int outgoing) {
    return fsp::CalcChecksum(packet, n, outgoing);
}

int FSPDaemon::Reply(unsigned long position, const unsigned char* data, const unsigned char* extra,
                     int dataLength, int extraLength, int errorFlag) {
    uint8_t code = errorFlag ? uint8_t(fsp::CC_ERR) : command;
    int t = fsp::BuildReply(outPacket, code, replyKey, sequence, uint32_t(position), data,
                            dataLength, extra, extraLength);
    if (t == 0) {
        ErrorMsg("Internal Error: Bad reply call");
        return 0;
    }
    ++key;
    lastReplySize = t;
    Send(outPacket, t);
    return 1;
}

int FSPDaemon::ErrorMsg(const char* message) {
    LogClient(message);
    return Reply(0, reinterpret_cast<const unsigned char*>(message), nullptr,
                 int(std::strlen(message) + 1), 0, 1);
}

int FSPDaemon::ErrorMsgf(const char* format, const char* clientText) {
    // An error reply holds at most 1023 characters and its NUL.
    char message[fsp::kMaxPayload];
    std::snprintf(message, sizeof(message), format, clientText);
    return ErrorMsg(message);
}

int FSPDaemon::LocalPath(const char* requestPath, char* out) {
    out[0] = '\0';
    if (!rootUsable || !requestPath || !fsp::BuildLocalPath(out, rootPath, requestPath)) return 0;
    // Where the platform makes short (8.3) names, "VFSPD-~1.PAR" is another
    // name of a hidden copy: a name with a '~' is judged by the entry's long
    // name too, when it exists.
    char full[fsp::kMaxPath];
    DWORD n = std::strchr(requestPath, '~') ? GetLongPathNameA(out, full, sizeof(full)) : 0;
    if (n > 0 && n < sizeof(full)) {
        const char* last = std::strrchr(full, '\\');
        if (fsp::ReservedName(last ? last + 1 : full)) {
            out[0] = '\0';
            return 0;
        }
    }
    return 1;
}

void FSPDaemon::PathChanged(const char* local) {
    replyCache.Forget(local);
    if (changedCount < fsp::ReplyCache::kMaxPaths)
        std::snprintf(changedPaths[changedCount++], fsp::kMaxPath, "%s", local);
    openFiles.Drop(local);
}

void FSPDaemon::ExpireIdle() {
    const uint64_t now = GetTickCount64();
    uploadCache.Expire(now);
    openFiles.Expire(now);
}

void FSPDaemon::LogClient(const char* text) {
    if (!eventLog.IsOpen()) return;
    char safe[fsp::kAddressLineSize];
    fsp::EscapeControl(text, safe, sizeof(safe));
    eventLog.Log(reinterpret_cast<sockaddr*>(&clientAddr), safe, 0);
}

void FSPDaemon::LogClientf(const char* format, const char* clientText) {
    if (!eventLog.IsOpen()) return;
    char text[fsp::kAddressLineSize];
    std::snprintf(text, sizeof(text), format, clientText);
    LogClient(text);
}
