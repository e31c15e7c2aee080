// The FSP server: the UDP endpoint, the request being served, the settings,
// the activity log and the uploads in progress. One object per process,
// owned by the main window; everything runs on the GUI thread.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "core/ListingCache.h"
#include "core/Packet.h"
#include "core/Paths.h"
#include "core/ReplyCache.h"
#include "../settings/EventLog.h"
#include "OpenFiles.h"
#include "UploadCache.h"

// Posted by Windows Sockets when a datagram can be read.
constexpr UINT WM_FSP_SOCKET = WM_USER + 1;
// Posted when an asynchronous host-name lookup has finished.
constexpr UINT WM_FSP_DNS = WM_USER + 2;

class FSPDaemon : public fsp::RequestRecord {
public:
    FSPDaemon();
    ~FSPDaemon();
    FSPDaemon(const FSPDaemon&) = delete;
    FSPDaemon& operator=(const FSPDaemon&) = delete;

    void SetupSockets(HWND window);
    void IncomingMsg();

    // Packet path.
    static int CalcChecksum(const unsigned char* packet, int n, int outgoing);
    int Reply(unsigned long position, const unsigned char* data, const unsigned char* extra,
              int dataLength, int extraLength, int errorFlag);
    // The reply carries the message; its log line adds the system's error
    // code when the failure has one (" (error 32)").
    int ErrorMsg(const char* message, unsigned long systemError = 0);

    // Settings (settings/Settings.cpp).
    void DefaultSettings();
    void LoadSettings();
    void SaveSettings();
    void GetStatus(HMENU menu);
    void SetStatus(HMENU menu);
    // Tells the operator, in one box, that the settings could not be
    // stored (the registry's error) and hold only for this run.
    void TellUnsaved(long error);

    // Command handlers, one file each under engine/handlers/.
    void Version();
    void GetDirectory();
    void GetFile();
    void Upload();
    void Install();
    void DeleteFileA();
    void DeleteDirectory();
    void MakeDirectory();
    void GetProtection();
    void SetProtection();
    void Bye();
    void GrabFile();
    void GrabDone();
    void Stat();
    void Rename();

    // Dialogs (ui/Dialogs.cpp).
    INT_PTR Configure();
    INT_PTR TestFunction();
    HANDLE DNSLookup();
    void DNSLookup(WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DNSDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK ConfigDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);

    // Writes one log line for the current client. Control characters of
    // the text (which may quote a client's path) are escaped first.
    void LogClient(const char* text);
    // LogClient of a format whose one %s is client text.
    void LogClientf(const char* format, const char* clientText);
    // ErrorMsg of a format whose one %s is client text.
    int ErrorMsgf(const char* format, const char* clientText, unsigned long systemError = 0);
    // The request's path as the client sent it, for the messages and log
    // lines that quote it: up to its NUL, never past the bytes that arrived.
    const char* ShownPath() { return fsp::RequestPathText(*this, shownPath, sizeof(shownPath)); }
    // The same of the second path, in the extra data (a rename's target).
    const char* ShownExtraPath() {
        return fsp::RequestExtraPathText(*this, shownExtraPath, sizeof(shownExtraPath));
    }

    // The local path (kMaxLocalPath bytes) of a request's path under the root.
    // Every handler that touches the file system builds its path here, so
    // the rules of what a client may name live in one place. 0 when the
    // path is refused or no usable root is set.
    int LocalPath(const char* requestPath, char* out);
    // The current client as the tables of per-client state key it: port
    // and IPv4 address, the six bytes from sin_port on.
    const unsigned char* ClientKey() const {
        return reinterpret_cast<const unsigned char*>(&clientAddr.sin_port);
    }
    // Called by every handler that changed the entry at local path (made,
    // removed, replaced or renamed it), after it did: the kept replies of
    // that path are forgotten here, in one place, and the path is noted as
    // one the request being served changed. Downloads under way read on
    // from their files (OpenFiles).
    void PathChanged(const char* local);
    // The identity (fsys::Identity) of a local path LocalPath built for the
    // request being served, as it was when built: before a change, while a
    // short name still names the entry.
    const std::string& IdentityOf(const char* local);
    // Forgets what idle clients left: unfinished uploads and the files kept
    // open for them. Called every second. (Kept replies expire as they are
    // looked up.)
    void ExpireIdle();

    SOCKET serverSocket = INVALID_SOCKET;
    int port = 0;
    char rootPath[fsp::kMaxPath] = {};
    char logPath[fsp::kMaxPath] = {};
    int uploadOnly = 0;
    int readWrite = 0;
    int logging = 0;
    int revName = 0;
    int privMode = 0;
    int thruOut = 0;
    // 0 while the configured root cannot be served (fsp::UsableRoot): every
    // path is refused until the configuration dialog sets a usable one.
    int rootUsable = 1;
    // The registry's error when a first run could not store the defaults;
    // told once the socket serves.
    long unsavedError = 0;
    UploadCache uploadCache;
    // Files being downloaded, kept open between blocks. Let go of before a
    // change that cannot be made while they are open (fsys::SetLetGo).
    OpenFiles openFiles;
    // The reply to each client's last state-changing request, for resends.
    fsp::ReplyCache replyCache;
    // Listings kept between requests, shared by every client.
    fsp::ListingCache listingCache{fsp::ListingCache::kDefaultBytes, fsp::ListingCache::kDefaultListings};
    int acceptRequests = 1;
    HWND hWnd = nullptr;
    char errorText[1024] = {};
    char shownPath[fsp::kMaxPayload + 1] = {};
    char shownExtraPath[fsp::kMaxPayload + 1] = {};
    EventLog eventLog;
    unsigned long requestCount = 0;
    // The largest datagram UDP carries: every datagram arrives whole, so one
    // too long to serve can still be checked and answered.
    static constexpr int kReceiveBuffer = 65536;
    unsigned char inPacket[kReceiveBuffer] = {};
    unsigned char outPacket[fsp::kMaxPacket] = {};
    sockaddr_in clientAddr = {};

private:
    bool wsaStarted = false;
    int lastReplySize = 0; // of the reply Reply sent last
    // The identities of the paths the request being served changed, for the
    // resend memory.
    std::string changedPaths[fsp::ReplyCache::kMaxPaths];
    int changedCount = 0;
    // The local paths LocalPath built for the request being served (a
    // rename builds two), with their identities.
    struct Built {
        std::string local, identity;
    };
    Built built[2];
    unsigned builtCount = 0;
    // The identity of the root, and the root it was taken of.
    std::string rootIdentity, rootIdentityOf;
};
