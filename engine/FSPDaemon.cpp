// The endpoint, the dispatcher and the reply path.
#include "FSPDaemon.h"

#include <mswsock.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "FileSystem.h"
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

// How much of a failure's message its log line keeps before the code: a
// line naming a client holds about 210 characters of text.
constexpr size_t kErrorTextRoom = 160;

// The cause of a failed bind in words, and what the operator can do.
void BindFailure(int port, int code, char* cause, size_t causeSize, const char** remedy) {
    switch (code) {
    case WSAEADDRINUSE:
        std::snprintf(cause, causeSize, "UDP port %d is in use by another program", port);
        *remedy = "Close the program that uses it, or choose another port";
        break;
    case WSAEACCES:
        std::snprintf(cause, causeSize, "UDP port %d may not be used: it needs administrator rights or is "
                      "kept by the system", port);
        *remedy = "Start VrelFSPd as an administrator, or choose another port (above 1023)";
        break;
    case WSAEADDRNOTAVAIL:
        std::snprintf(cause, causeSize, "UDP port %d is not available on this computer", port);
        *remedy = "Choose another port";
        break;
    default:
        std::snprintf(cause, causeSize, "UDP port %d cannot be bound (Windows Sockets error %d)", port, code);
        *remedy = "Check the network set-up, or choose another port";
        break;
    }
}

} // namespace

int FSPDaemon::SystemText(unsigned long error, char* out, size_t size) {
    out[0] = '\0';
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, out,
                   static_cast<DWORD>(size), nullptr);
    for (size_t n = std::strlen(out); n && std::strchr("\r\n. ", out[n - 1]); --n) out[n - 1] = '\0';
    return out[0] != '\0';
}

FSPDaemon::FSPDaemon() {
    acceptRequests = 1;
    fsys::SetLetGo(this, [this](const char* path) { openFiles.LetGo(fsys::Identity(path)); });
}

FSPDaemon::~FSPDaemon() {
    fsys::SetLetGo(this, nullptr);
    if (serverSocket != INVALID_SOCKET) {
        closesocket(serverSocket);
        char text[64];
        std::snprintf(text, sizeof(text), "Stopped serving UDP port %d", boundPort);
        LogServer(text);
    }
    if (wsaStarted) WSACleanup();
    // eventLog and then uploadCache are destroyed after this body, in
    // reverse order of declaration.
}

int FSPDaemon::BindPort(int newPort, char* why, size_t whySize) {
    char cause[sizeof(notBound)] = "";
    const char* remedy = "Check the network set-up, or choose another port";
    SOCKET s = INVALID_SOCKET;
    if (!wsaStarted) {
        WSADATA wsaData;
        if (WSAStartup(MAKEWORD(2, 2), &wsaData) == 0) wsaStarted = true;
        else std::snprintf(cause, sizeof(cause), "No TCP found! (Windows Sockets cannot be started)");
    }
    if (wsaStarted && (s = socket(AF_INET, SOCK_DGRAM, 0)) == INVALID_SOCKET)
        std::snprintf(cause, sizeof(cause), "no socket can be made (Windows Sockets error %d)", WSAGetLastError());
    if (s != INVALID_SOCKET) {
        // A reply to a client whose port has closed comes back as an ICMP
        // report, which Windows hands to the next receive as error 10054:
        // the socket is told to drop those.
        BOOL report = FALSE;
        DWORD returned = 0;
        WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &returned, nullptr, nullptr);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(static_cast<u_short>(newPort));
        if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR)
            BindFailure(newPort, WSAGetLastError(), cause, sizeof(cause), &remedy);
        else if (WSAAsyncSelect(s, hWnd, WM_FSP_SOCKET, FD_READ) == SOCKET_ERROR)
            std::snprintf(cause, sizeof(cause), "datagrams cannot be received (Windows Sockets error %d)",
                          WSAGetLastError());
    }
    if (cause[0]) {
        if (s != INVALID_SOCKET) closesocket(s);
        if (serverSocket != INVALID_SOCKET) {
            std::snprintf(why, whySize, "%s. UDP port %d stays bound and serves.\n\n%s.", cause, boundPort, remedy);
        } else {
            std::memcpy(notBound, cause, sizeof(notBound));
            std::snprintf(why, whySize,
                          "VrelFSPd is not serving: %s.\n\n%s with Security > Configuration: a port is bound as "
                          "soon as it is set there.",
                          cause, remedy);
        }
        return 0;
    }
    // Only the copy that owns the port clears what an earlier run left in
    // the upload folder, and before a datagram of the new socket is read
    // (none is until the window's messages are handled again).
    uploadCache.Start(rootUsable ? rootPath : nullptr);
    if (serverSocket != INVALID_SOCKET) {
        closesocket(serverSocket);
        char text[64];
        std::snprintf(text, sizeof(text), "Stopped serving UDP port %d", boundPort);
        LogServer(text);
    }
    serverSocket = s;
    boundPort = newPort;
    notBound[0] = '\0';
    return 1;
}

int FSPDaemon::JudgeRoot(const char* root, char* problem, size_t size) {
    problem[0] = '\0';
    DWORD attributes = fsys::AttributeBits(root);
    DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME) {
        std::snprintf(problem, size, "the root %s does not exist", root);
    } else if (error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME || error == ERROR_NETNAME_DELETED ||
               error == ERROR_NOT_READY || error == ERROR_UNEXP_NET_ERR || error == ERROR_NETWORK_UNREACHABLE) {
        std::snprintf(problem, size, "the root %s cannot be reached", root);
    } else if (error) {
        char reason[160];
        if (!SystemText(error, reason, sizeof(reason))) std::snprintf(reason, sizeof(reason), "error %lu", error);
        std::snprintf(problem, size, "the root %s cannot be read (%s)", root, reason);
    } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::snprintf(problem, size, "the root %s is a file, not a folder", root);
    } else if (RootInUploadFolder(root)) {
        // What lies there is other clients' unfinished uploads.
        std::snprintf(problem, size, "the root %s lies in the upload folder %s", root, fsp::kUploadFolder);
    }
    return problem[0] ? 0 : 1;
}

int FSPDaemon::CheckRoot(char* why, size_t whySize) {
    char problem[sizeof(rootProblem)] = "";
    if (!rootUsable) std::snprintf(problem, sizeof(problem), "the root in the settings cannot be served");
    else JudgeRoot(rootPath, problem, sizeof(problem));
    // Other clients' unfinished uploads are never served.
    rootInUploadFolder = rootUsable && RootInUploadFolder(rootPath);
    if (why && whySize) {
        why[0] = '\0';
        if (problem[0])
            std::snprintf(why, whySize, "VrelFSPd cannot serve files: %s.\n\nSet a root that is an existing folder "
                          "(outside %s in the working directory) with Security > Configuration.%s",
                          problem, fsp::kUploadFolder,
                          rootUsable ? " A root that comes back is served again without a restart." : "");
    }
    if (std::strcmp(problem, rootProblem) != 0) {
        std::memcpy(rootProblem, problem, sizeof(rootProblem));
        if (hWnd) PostMessageA(hWnd, WM_FSP_STATUS, 0, 0);
        if (logged.known) { // once the start is logged
            if (problem[0]) {
                char text[sizeof(rootProblem) + 16];
                std::snprintf(text, sizeof(text), "Not serving: %s", problem);
                LogServer(text);
            } else {
                LogServing();
            }
        }
    }
    return problem[0] ? 0 : 1;
}

bool FSPDaemon::RootInUploadFolder(const char* root) {
    // Judged once per root: the working directory does not change.
    if (std::strcmp(rootJudged, root) != 0) {
        std::snprintf(rootJudged, sizeof(rootJudged), "%s", root);
        // As the file system compares names: by their identities.
        char folder[fsp::kMaxPath], full[fsp::kMaxPath];
        rootInUploads = fsys::FullPath(fsp::kUploadFolder, folder, sizeof(folder)) &&
                        fsys::FullPath(root, full, sizeof(full)) &&
                        fsys::AtOrBelow(fsys::Identity(full), fsys::Identity(folder));
    }
    return rootInUploads;
}

fsp::ServerStatus FSPDaemon::Status() const {
    fsp::ServerStatus s;
    s.port = port;
    s.bound = serverSocket != INVALID_SOCKET && boundPort == port;
    s.root = rootPath;
    s.uploadOnly = uploadOnly;
    s.readWrite = readWrite;
    s.acceptRequests = acceptRequests;
    s.notBound = notBound;
    s.rootProblem = rootProblem;
    s.accessFiles = accessFiles;
    s.hostsProblem = hostsError.empty() ? nullptr : hostsError.c_str();
    s.refused = refusedCount;
    return s;
}

void FSPDaemon::LogServing() {
    fsp::ServerStatus s = Status();
    char text[fsp::kPlainLineSize];
    if (fsp::Serving(s)) {
        std::snprintf(text, sizeof(text), "Serving UDP port %d, root %s, %s%s", port, rootPath,
                      fsp::AccessLevel(uploadOnly, readWrite), accessFiles ? ", access files" : "");
    } else {
        // The status line says why, and what would be served.
        fsp::FormatStatus(s, text, sizeof(text));
    }
    LogServer(text);
}

void FSPDaemon::LogServer(const char* text) {
    if (!eventLog.IsOpen()) return;
    char safe[fsp::kPlainLineSize];
    fsp::EscapeControl(text, safe, sizeof(safe));
    eventLog.Log(safe);
}

void FSPDaemon::SetupSockets(HWND window) {
    requestCount = 0;
    hWnd = window;
    serverSocket = INVALID_SOCKET;

    LoadSettings();
    // The root is kept with a final backslash, as the configuration dialog
    // shows it (BuildLocalPath joins either form); a usable root has room.
    size_t n = std::strlen(rootPath);
    if (rootUsable && rootPath[n - 1] != '\\') {
        rootPath[n] = '\\';
        rootPath[n + 1] = '\0';
    }
    SetStatus(GetMenu(hWnd));

    // A port outside 1 to 65535 would bind another one (its low 16 bits,
    // or any free port for 0), where no client looks: bind nothing. Nor
    // is a failed bind the end: the window stays, and a port set in the
    // configuration dialog is bound at once.
    const bool portUsable = !portOfOtherType && port >= 1 && port <= 65535;
    char bindText[512] = "";
    if (portUsable) {
        BindPort(port, bindText, sizeof(bindText));
    } else {
        std::snprintf(notBound, sizeof(notBound), "the port in the settings cannot be used");
        // The name lookups and the window's address texts need it all the same.
        WSADATA wsaData;
        wsaStarted = WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
    }
    char rootText[2 * fsp::kMaxPath + 256];
    CheckRoot(rootText, sizeof(rootText));
    // Only now, with the socket serving: requests are answered while the
    // box waits for the operator.
    if (logging) StartLog();
    LogServing();
    LogChanges(); // what is logged from here on is a change
    if (unsavedError) TellUnsaved(unsavedError);
    char text[512];
    if (!portUsable) {
        if (portOfOtherType)
            std::snprintf(text, sizeof(text),
                          "The port in the registry (FSPPort) cannot be used: it is stored as %s, not as a "
                          "number (REG_DWORD) from 1 to 65535. Nothing is served until one is set with "
                          "Security > Configuration.",
                          portType == REG_SZ ? "text (REG_SZ)" : portType == REG_BINARY ? "bytes (REG_BINARY)"
                                                                                           : "another type");
        else
            std::snprintf(text, sizeof(text),
                          "The port in the registry (%d) cannot be used: it must be a number from 1 to "
                          "65535. Nothing is served until one is set with Security > Configuration.",
                          port);
        MessageBoxA(hWnd, text, "VrelFSPd", MB_OK | MB_ICONWARNING);
    }
    if (!fsp::UsablePacketSize(packetSize)) {
        std::snprintf(text, sizeof(text),
                      "The packet size in the registry (%d) cannot be used: it must be a number from "
                      "%u to %u. Blocks keep to %u bytes until it is mended in the registry "
                      "(PacketSize) and VrelFSPd is started again.",
                      packetSize, unsigned(fsp::kMinPacketSize), unsigned(fsp::kMaxPacketSize),
                      unsigned(fsp::kMaxPayload));
        MessageBoxA(hWnd, text, "VrelFSPd", MB_OK | MB_ICONWARNING);
    }
    if (bindText[0]) MessageBoxA(hWnd, bindText, "VrelFSPd", MB_OK | MB_ICONWARNING);
    if (!rootUsable) {
        std::snprintf(text, sizeof(text),
                      "The server root in the registry cannot be served: it must be %s. Until "
                      "one is set with Security > Configuration, every request for a file or "
                      "directory is refused.",
                      fsp::kRootRule);
        MessageBoxA(hWnd, text, "VrelFSPd", MB_OK | MB_ICONWARNING);
    } else if (rootText[0]) {
        MessageBoxA(hWnd, rootText, "VrelFSPd", MB_OK | MB_ICONWARNING);
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
            for (Built& b : built) b.local.clear();
            if (!policy) {
                ErrorMsg("Unsupported Command!");
            } else if (policy->access == fsp::Access::Never) {
                ErrorMsg(policy->refusal);
            } else if (Permit(*policy)) {
                (this->*kHandlers[policy - fsp::kPolicy].serve)();
            }
            if (remembered && lastReplySize) {
                const char* changed[fsp::ReplyCache::kMaxPaths];
                for (int i = 0; i < changedCount; ++i) changed[i] = changedPaths[i].c_str();
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

int FSPDaemon::ErrorMsg(const char* message, unsigned long systemError) {
    // A refusal may be the root gone: the status bar says so at once.
    CheckRoot();
    if (systemError) {
        // The code stays on the line however long the message: the message
        // is cut first, between characters.
        size_t keep = std::strlen(message);
        if (keep > kErrorTextRoom) {
            keep = kErrorTextRoom;
            while (keep > 0 && (static_cast<unsigned char>(message[keep]) & 0xC0) == 0x80) --keep;
        }
        char text[fsp::kAddressLineSize];
        std::snprintf(text, sizeof(text), "%.*s (error %lu)", int(keep), message, systemError);
        LogClient(text);
    } else {
        LogClient(message);
    }
    return Reply(0, reinterpret_cast<const unsigned char*>(message), nullptr,
                 int(std::strlen(message) + 1), 0, 1);
}

int FSPDaemon::ErrorMsgf(const char* format, const char* clientText, unsigned long systemError) {
    // An error reply holds at most 1023 characters and its NUL.
    char message[fsp::kMaxPayload];
    std::snprintf(message, sizeof(message), format, clientText);
    return ErrorMsg(message, systemError);
}

int FSPDaemon::LocalPath(const char* requestPath, char* out) {
    out[0] = '\0';
    if (!rootUsable || rootInUploadFolder || !requestPath || !fsp::BuildLocalPath(out, rootPath, requestPath))
        return 0;
    // The file system knows one entry by many spellings (case in every
    // script, short 8.3 names such as "VFSPD-~1.PAR"): a name the server
    // keeps for itself is refused in each, judged by the entry's identity.
    std::string id = fsys::Identity(out);
    if (rootIdentityOf != rootPath) {
        rootIdentityOf = rootPath;
        rootIdentity = fsys::Identity(rootPath);
    }
    bool reserved = id.empty() || !fsys::AtOrBelow(id, rootIdentity);
    for (size_t at = rootIdentity.size(); !reserved && at < id.size();) {
        if (id[at] == '\\') ++at;
        size_t end = id.find('\\', at);
        if (end == std::string::npos) end = id.size();
        reserved = fsp::ReservedName(id.substr(at, end - at).c_str()) != 0;
        at = end;
    }
    if (reserved) {
        out[0] = '\0';
        return 0;
    }
    Built& b = built[builtCount++ % std::size(built)];
    b.local = out;
    b.identity = std::move(id);
    return 1;
}

int FSPDaemon::Permit(const fsp::CommandPolicy& policy) {
    dirRights = fsp::DirectoryRights(uploadOnly, readWrite, 0);
    bool allowed;
    unsigned files = 0;
    std::string where; // the client's directory that refused
    if (policy.need == fsp::Need::None) {
        allowed = fsp::Allowed(policy.access, uploadOnly, readWrite) != 0;
    } else if (policy.need == fsp::Need::Upload) {
        // Pieces name no directory: with access files, the install decides.
        allowed = accessFiles || fsp::Allowed(policy.access, uploadOnly, readWrite);
    } else {
        const char* path = fsp::RequestText(*this);
        // A path that names no directory is the handler's to refuse.
        if (!path) return 1;
        const bool self = policy.need == fsp::Need::List;
        char dir[fsp::kMaxLocalPath];
        dirRights = RightsOf(path, self, dir);
        files = dir[0] && accessFiles ? AccessFilesOf(dir) : 0;
        allowed = fsp::Permitted(policy.need, dirRights) != 0;
        char parent[fsp::kMaxRequestPayload];
        auto Parent = [&](const char* p) -> std::string {
            const char* d = fsp::ParentPath(p, parent, sizeof(parent));
            return d ? d : "";
        };
        if (!allowed) where = self ? path : Parent(path);
        if (allowed && policy.need == fsp::Need::Rename) {
            // Out of the source's directory and into the target's.
            const char* to = fsp::RequestExtraText(*this);
            if (!to) return 1;
            uint8_t targetRights = RightsOf(to, false, dir);
            allowed = fsp::Permitted(policy.need, targetRights) != 0;
            if (!allowed) {
                files = dir[0] && accessFiles ? AccessFilesOf(dir) : 0;
                where = Parent(to);
            }
        }
    }
    if (allowed) return 1;
    char message[fsp::kMaxPayload];
    std::snprintf(message, sizeof(message), policy.refusal, ShownPath());
    // The reply is the command's own text; the log adds the rule.
    std::string rule = fsp::RefusingRule(policy.need, uploadOnly, readWrite, accessFiles, files);
    if (accessFiles && policy.need != fsp::Need::None && policy.need != fsp::Need::Upload)
        rule += " in /" + where.substr(std::min(where.find_first_not_of("/\\"), where.size()));
    char line[fsp::kAddressLineSize];
    std::snprintf(line, sizeof(line), "%s (%s)", message, rule.c_str());
    LogClient(line);
    Reply(0, reinterpret_cast<const unsigned char*>(message), nullptr, int(std::strlen(message) + 1), 0, 1);
    return 0;
}

uint8_t FSPDaemon::RightsOf(const char* requestPath, bool self, char* localDir) {
    char parent[fsp::kMaxRequestPayload];
    char local[fsp::kMaxLocalPath];
    const char* dir = self ? requestPath : fsp::ParentPath(requestPath, parent, sizeof(parent));
    bool named = dir && LocalPath(dir, local);
    if (localDir) std::strcpy(localDir, named ? local : "");
    return fsp::DirectoryRights(uploadOnly, readWrite, named && accessFiles ? AccessFilesOf(local) : 0);
}

unsigned FSPDaemon::AccessFilesOf(const char* dir) {
    const uint64_t now = GetTickCount64();
    int kept = accessFileCache.Find(dir, now);
    if (kept >= 0) return unsigned(kept);
    std::string path = dir;
    if (!path.empty() && path.back() != '\\') path += '\\';
    const size_t at = path.size();
    unsigned files = 0;
    for (const fsp::AccessFileName& a : fsp::kAccessFiles) {
        path.replace(at, std::string::npos, a.name);
        if (fsys::AttributeBits(path.c_str()) != INVALID_FILE_ATTRIBUTES) files |= a.file;
    }
    accessFileCache.Keep(dir, files, now);
    return files;
}

const std::string& FSPDaemon::IdentityOf(const char* local) {
    for (const Built& b : built)
        if (b.local == local) return b.identity;
    Built& b = built[builtCount++ % std::size(built)];
    b.local = local;
    b.identity = fsys::Identity(local);
    return b.identity;
}

void FSPDaemon::PathChanged(const char* local) {
    const std::string id = IdentityOf(local);
    replyCache.Forget(id.c_str());
    // A copy to another volume at or below the path is given up; one in a
    // folder renamed is followed to where its hidden file went first (a
    // rename tells its source, then its target).
    if (command == fsp::CC_RENAME && changedCount == 1) {
        uploadCache.Moved(changedPaths[0], id, local);
        uploadCache.PathChanged(changedPaths[0]);
        uploadCache.PathChanged(id);
    } else if (command != fsp::CC_RENAME) {
        uploadCache.PathChanged(id);
    }
    if (changedCount < fsp::ReplyCache::kMaxPaths) changedPaths[changedCount++] = id;
}

void FSPDaemon::ExpireIdle() {
    const uint64_t now = GetTickCount64();
    // Outside any request: no rename is being told.
    const uint8_t served = command;
    command = 0;
    // Copies that ended are put in place, as if their client had asked
    // again (a download of the target lets go as fsys::Move needs).
    uploadCache.Expire(now, [this](const char* target, bool placed) {
        if (placed) PathChanged(target);
    });
    command = served;
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
