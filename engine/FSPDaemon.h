// The FSP server: the UDP endpoint, the request being served, the settings,
// the activity log and the uploads in progress. One object per process,
// owned by the main window; everything runs on the GUI thread.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/HostTable.h"
#include "core/ListingCache.h"
#include "core/NameCache.h"
#include "core/Packet.h"
#include "core/Paths.h"
#include "core/ReplyCache.h"
#include "core/Sessions.h"
#include "core/Throughput.h"
#include "NameResolver.h"
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
    int ErrorMsg(const char* message);

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

    // Who is served and how much (engine/Access.cpp).
    // Whether the request just decoded is served: the host table, Name
    // Required and the client's key decide. A request that is not is
    // dropped, or denied here with an error reply; one that is has its
    // reply's key in replyKey.
    int Admitted();
    // Sends a reply of n bytes to the current client, at once or, under
    // throughput control, when its turn comes.
    void Send(const unsigned char* packet, int n);
    // Sends the waiting replies that are due, and arms the timer for the
    // next. Called by that timer and with every datagram.
    void ReleaseReplies();
    // Takes a new host table (the rules as the operator wrote them): 0,
    // with *bad naming the rule and why, when one cannot be read, and the
    // table is left as it was.
    int SetHosts(const std::vector<std::string>& rules, std::string* bad);
    // Loads the table from the registry's "Hosts" (settings/Settings.cpp);
    // an unreadable rule fails closed and fills hostsError.
    void LoadHosts();
    // Stores rules as "Hosts"; 0 (the registry's error told) when it fails.
    int SaveHosts(const std::vector<std::string>& rules);
    // Tells the operator, in a box, that the stored host table cannot be
    // used and why: nobody is served until it is mended.
    void TellHosts();
    // Puts the throughput setting into effect.
    void ApplyThroughput();
    // The answers of reverse look-ups that came in, into the name cache.
    void TakeNames();

    // Dialogs (ui/Dialogs.cpp, ui/HostsDialog.cpp).
    INT_PTR EditHosts();
    static INT_PTR CALLBACK HostsDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);
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
    int ErrorMsgf(const char* format, const char* clientText);
    // The request's path as the client sent it, for the messages and log
    // lines that quote it: up to its NUL, never past the bytes that arrived.
    const char* ShownPath() { return fsp::RequestPathText(*this, shownPath, sizeof(shownPath)); }
    // The same of the second path, in the extra data (a rename's target).
    const char* ShownExtraPath() {
        return fsp::RequestExtraPathText(*this, shownExtraPath, sizeof(shownExtraPath));
    }

    // The local path (kMaxPath bytes) of a request's path under the root.
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
    // removed, replaced or renamed it), after it did: what is kept of that
    // path for later requests is dropped here, in one place, and the path
    // is noted as one the request being served changed.
    void PathChanged(const char* local);
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
    // The throughput limit, bytes a second ("ThruPut"), while thruOut is on.
    unsigned long thruPut = fsp::Throughput::kDefaultLimit;
    // The host table, and its rules as stored (for the dialog).
    fsp::HostTable hostTable;
    std::vector<std::string> hostRules;
    // Why the stored table cannot be used (which rule, and why); empty
    // when it can. Nobody is served meanwhile.
    std::string hostsError;
    // Requests ignored or denied by the host table or Name Required.
    unsigned long refusedCount = 0;
    // Requests dropped for carrying a wrong key beyond the new sessions
    // the address may open.
    unsigned long droppedCount = 0;
    fsp::SessionTable sessions{&FSPDaemon::RandomKey};
    fsp::Throughput throughput;
    fsp::NameCache names;
    NameResolver resolver;
    fsp::LogLimiter refusalLog, dropLog;
    // The key of the reply to the request being served.
    uint16_t replyKey = 0;
    // 0 while the configured root cannot be served (fsp::UsableRoot): every
    // path is refused until the configuration dialog sets a usable one.
    int rootUsable = 1;
    // The registry's error when a first run could not store the defaults;
    // told once the socket serves.
    long unsavedError = 0;
    UploadCache uploadCache;
    // Files being downloaded, kept open between blocks.
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
    // A key chosen by the platform's random source, not one a client
    // could work out from the keys it was given.
    static uint16_t RandomKey();
    bool wsaStarted = false;
    bool throughputTimer = false; // armed
    static void CALLBACK ThroughputTimer(HWND window, UINT, UINT_PTR id, DWORD);
    // Counts and logs (at most once a minute per address) a refusal.
    void Refused(uint64_t now, const char* text);
    int lastReplySize = 0; // of the reply Reply sent last
    // The local paths the request being served changed, for the resend memory.
    char changedPaths[fsp::ReplyCache::kMaxPaths][fsp::kMaxPath] = {};
    int changedCount = 0;
};
