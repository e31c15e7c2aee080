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
#include "core/Policy.h"
#include "core/ReplyCache.h"
#include "core/Status.h"
#include "core/Sessions.h"
#include "core/Throughput.h"
#include "NameResolver.h"
#include "../settings/EventLog.h"
#include "ListingJobs.h"
#include "OpenFiles.h"
#include "UploadCache.h"

// Posted by Windows Sockets when a datagram can be read.
constexpr UINT WM_FSP_SOCKET = WM_USER + 1;
// Posted when an asynchronous host-name lookup has finished.
constexpr UINT WM_FSP_DNS = WM_USER + 2;
// Posted by the server to its window when what the status bar shows has
// changed without a command of the operator's (the root went or came).
constexpr UINT WM_FSP_STATUS = WM_USER + 3;

class FSPDaemon : public fsp::RequestRecord {
public:
    FSPDaemon();
    ~FSPDaemon();
    FSPDaemon(const FSPDaemon&) = delete;
    FSPDaemon& operator=(const FSPDaemon&) = delete;

    void SetupSockets(HWND window);
    void IncomingMsg();
    // Binds the server's socket to newPort in place of the one bound now,
    // which keeps serving when the new one cannot be bound. On success the
    // upload folder is made ready (the first time) and 1 returned; on
    // failure *why gets the box's text (cause and remedy, whySize bytes)
    // and notBound the cause in short.
    int BindPort(int newPort, char* why, size_t whySize);
    // Whether the root can be served now (it exists, is a folder, lies
    // outside the upload folder); keeps the answer in rootProblem, and
    // tells the window when it changed. *why, when given, gets a sentence
    // for a box. Called at start, every second, on every refused request
    // and when a root is set.
    int CheckRoot(char* why = nullptr, size_t whySize = 0);
    // Whether a root that passes fsp::UsableRoot can be served now; 0
    // with the reason in problem (size bytes) when not.
    int JudgeRoot(const char* root, char* problem, size_t size);
    // What the status bar shows, from the members below.
    fsp::ServerStatus Status() const;
    // Writes "Serving ..." or "Not serving: ..." to the log.
    void LogServing();
    // Writes one line of the server's own (no client) to the log, with the
    // text's control characters escaped.
    void LogServer(const char* text);
    // Writes a line for each setting changed since the last call.
    void LogChanges();
    // Opens the log on logPath; a failure is told in a box that names the
    // path and the system's reason.
    void StartLog();
    // The name of the object that keeps a second copy from serving the
    // same settings: one per settings key, for the whole machine.
    static void InstanceName(char* out, size_t size);

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
    // The system's words for an error into out (size bytes), without the
    // final full stop and line end; 0, out empty, when it has none.
    static int SystemText(unsigned long error, char* out, size_t size);

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
    // Whether the access level and the directories' access files let the
    // request being served through (fsp::CommandPolicy::need); when not, it
    // has been answered with the command's refusal text, and the log says
    // which rule refused. Notes the rights it found in dirRights.
    int Permit(const fsp::CommandPolicy& policy);
    // The access files (fsp::AccessFile) the directory at local path dir
    // holds, looked at when no note younger than the cache's age is kept.
    unsigned AccessFilesOf(const char* dir);
    // The rights of the directory a request path names (the path itself
    // when self, else the directory it is in); the level's alone when
    // access files are off or the path names none. localDir, when given,
    // receives the directory's local path, or "" when there is none.
    uint8_t RightsOf(const char* requestPath, bool self, char* localDir = nullptr);
    // The most a block of a file or a listing carries: the operator's
    // packet size, or the standard 1,024 bytes while it is unusable.
    uint32_t ReplyLimit() const {
        return fsp::UsablePacketSize(packetSize) ? uint32_t(packetSize) : fsp::kMaxPayload;
    }
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
    // Per-directory access files (.FSP_OK_ADD ...) on; REG_DWORD "AccessFiles".
    int accessFiles = 1;
    // The largest block sent to a client that asks for more than 1,024
    // bytes; REG_DWORD "PacketSize". Kept as stored: a value outside 1,024
    // to 4,380 is told to the operator, and 1,024 serves meanwhile.
    int packetSize = int(fsp::kDefaultPacketSize);
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
    // 1 when FSPPort is stored as another type than REG_DWORD (its type in
    // portType): no port is bound, and the value is left for mending.
    int portOfOtherType = 0;
    unsigned long portType = 0;
    // The port the socket is bound to, 0 while none is.
    int boundPort = 0;
    // Why no port is bound, in short; empty while one is.
    char notBound[160] = {};
    // 1 while the root lies at or below the upload folder: every path is
    // refused, as for an unusable root.
    int rootInUploadFolder = 0;
    // Why the root cannot be served now, in short; empty while it can.
    char rootProblem[fsp::kMaxPath + 80] = {};
    UploadCache uploadCache;
    // Files being downloaded, kept open between blocks. Let go of before a
    // change that cannot be made while they are open (fsys::SetLetGo).
    OpenFiles openFiles;
    // The reply to each client's last state-changing request, for resends.
    fsp::ReplyCache replyCache;
    // Directories one address may make a second, and what one may take
    // of its volume.
    static constexpr uint32_t kDirectoriesPerSecond = 64;
    static constexpr uint64_t kDirectoryBytes = 4096;
    fsp::AddressRate directoryRate{kDirectoriesPerSecond, 4096};
    // Listings kept between requests, shared by every client.
    fsp::ListingCache listingCache{fsp::ListingCache::kDefaultBytes, fsp::ListingCache::kDefaultListings};
    // Listings of large directories being enumerated off this thread.
    ListingJobs listingJobs;
    int acceptRequests = 1;
    // The rights Permit found for the request being served: of its path's
    // directory (of the source's for a rename).
    uint8_t dirRights = 0;
    fsp::AccessFileCache accessFileCache;
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
    // Whether a root lies at or below the upload folder (kept for rootJudged).
    bool RootInUploadFolder(const char* root);
    char rootJudged[fsp::kMaxPath] = {};
    bool rootInUploads = false;
    // The settings as last logged, so that a change is logged from what
    // it was.
    struct Logged {
        int known; // 0 until the start is logged
        int port, uploadOnly, readWrite, logging, acceptRequests;
        char root[fsp::kMaxPath];
    } logged = {};
    bool throughputTimer = false; // armed
    static void CALLBACK ThroughputTimer(HWND window, UINT, UINT_PTR id, DWORD);
    // Counts and logs (at most once a minute per address) a refusal.
    void Refused(uint64_t now, const char* text);
    int lastReplySize = 0; // of the reply Reply sent last
    // The identities of the paths the request being served changed, for the
    // resend memory.
    std::string changedPaths[fsp::ReplyCache::kMaxPaths];
    int changedCount = 0;
    // The local paths LocalPath built for the request being served (a
    // rename builds two, and the access check their folders), with their
    // identities.
    struct Built {
        std::string local, identity;
    };
    Built built[4];
    unsigned builtCount = 0;
    // The identity of the root, and the root it was taken of.
    std::string rootIdentity, rootIdentityOf;
};
