// The server's settings: defaults, the registry, and their mirror in the
// Security menu's check marks.
#include <cstdio>
#include <cstring>
#include <string>

#include "../engine/FSPDaemon.h"
#include "../ui/resource.h"
#include "RegistryKey.h"

namespace {
// The setup program (installer/vfspd.nsi) names these keys too, to
// remove them.
const char kServerKey[] = "SOFTWARE\\Quorvane\\VrelFSPd\\Server";
const char kLocationKey[] = "SOFTWARE\\Quorvane\\VrelFSPd\\Location";
// Both keys' parent, as a kernel object's name may hold it (no backslash).
const char kInstanceKey[] = "SOFTWARE/Quorvane/VrelFSPd";

// Reads a path whole into its fsp::kMaxPath field (a REG_EXPAND_SZ expanded),
// or leaves it untouched when the value is missing. A path of another type,
// or too long for the field or even to be read, is refused rather than cut
// or replaced by the default, since either would serve another file or
// directory: the field is emptied and 0 returned.
int LoadPath(RegistryKey& key, const char* name, char* field) {
    if (!key.HasValue(name)) return 1;
    std::string text;
    if (!key.GetExpandedString(name, &text) || text.size() >= size_t(fsp::kMaxPath)) {
        field[0] = '\0';
        return 0;
    }
    std::memcpy(field, text.c_str(), text.size() + 1);
    return 1;
}

// Writes a path, unless it is stored as a REG_EXPAND_SZ that expands to it
// (the root may have gained its final backslash since): the operator's
// variables stay.
int SavePath(RegistryKey& key, const char* name, const std::string& path) {
    std::string stored;
    unsigned long type = 0;
    if (key.GetExpandedString(name, &stored, &type) && type == REG_EXPAND_SZ &&
        (stored == path || stored + "\\" == path))
        return 1;
    return key.SaveString(name, path);
}

// The seven menu flags, in the order the menu is read and written.
struct FlagItem {
    UINT id;
    int FSPDaemon::*member;
};
const FlagItem kFlagItems[] = {
    {IDM_ACCEPT, &FSPDaemon::acceptRequests}, {IDM_READWRITE, &FSPDaemon::readWrite},
    {IDM_UPLOADONLY, &FSPDaemon::uploadOnly}, {IDM_LOGGING, &FSPDaemon::logging},
    {IDM_REVNAME, &FSPDaemon::revName},       {IDM_PRIVMODE, &FSPDaemon::privMode},
    {IDM_THRUOUT, &FSPDaemon::thruOut},
};

// Writes every value; the log is left as it is. Returns ERROR_SUCCESS,
// or the registry's error when any of them could not be stored.
long StoreSettings(const FSPDaemon& d) {
    RegistryKey server(kServerKey);
    RegistryKey location(kLocationKey);
    // A port stored as another type stays as the operator wrote it, to be
    // mended there or in the dialog.
    int ok = d.portOfOtherType || server.SaveDWORD("FSPPort", static_cast<unsigned long>(d.port));
    ok &= server.SaveDWORD("Logging", static_cast<unsigned long>(d.logging));
    ok &= server.SaveDWORD("UploadOnly", static_cast<unsigned long>(d.uploadOnly));
    ok &= server.SaveDWORD("ReadWrite", static_cast<unsigned long>(d.readWrite));
    ok &= server.SaveDWORD("RevName", static_cast<unsigned long>(d.revName));
    ok &= server.SaveDWORD("PrivMode", static_cast<unsigned long>(d.privMode));
    ok &= server.SaveDWORD("ThruOut", static_cast<unsigned long>(d.thruOut));
    ok &= server.SaveDWORD("AccessFiles", static_cast<unsigned long>(d.accessFiles));
    // As read, even when unusable: the operator was told, and mends it.
    ok &= server.SaveDWORD("PacketSize", static_cast<unsigned long>(d.packetSize));
    ok &= server.SaveDWORD("ThruPut", d.thruPut);
    // A path refused at loading stays in the registry as the operator
    // wrote it, to be mended there or, for the root, in the dialog.
    if (d.rootUsable) ok &= SavePath(location, "RootPath", d.rootPath);
    if (d.logPath[0]) ok &= SavePath(location, "LogPath", d.logPath);
    if (ok) return ERROR_SUCCESS;
    long error = server.lastError != ERROR_SUCCESS ? server.lastError : location.lastError;
    return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
}
} // namespace

void FSPDaemon::DefaultSettings() {
    // Read-only until the operator allows uploads: the default root is a
    // whole drive, and an anonymous upload there could land anywhere the
    // user may write, a Startup folder among them.
    uploadOnly = 0;
    logging = 1;
    readWrite = revName = privMode = thruOut = 0;
    accessFiles = 1;
    packetSize = int(fsp::kDefaultPacketSize);
    thruPut = fsp::Throughput::kDefaultLimit;
    port = 21;
    std::strcpy(rootPath, "C:\\");
    rootUsable = 1;
    // The uninstaller removes this file by name (installer/vfspd.nsi).
    std::strcpy(logPath, "VFSPD.LOG");
}

void FSPDaemon::LoadSettings() {
    RegistryKey server(kServerKey);
    RegistryKey location(kLocationKey);
    // Start from the defaults, so a value missing from the registry reads
    // as its default rather than as whatever the member held.
    DefaultSettings();
    // A key that could not even be opened is a first run too: the defaults
    // serve, and the operator hears that they could not be stored.
    if (server.created || !server.isOpen) {
        // The log is opened, and a failure told, by the start-up once the
        // socket serves.
        unsavedError = StoreSettings(*this);
        ApplyThroughput();
        return;
    }
    // A port of another type (the text "2121", bytes) is no port: binding
    // the default instead would serve where the operator did not say.
    portType = server.TypeOf("FSPPort");
    portOfOtherType = portType != REG_NONE && !server.GetDWORD("FSPPort", &port);
    server.GetDWORD("Logging", &logging);
    server.GetDWORD("UploadOnly", &uploadOnly);
    server.GetDWORD("ReadWrite", &readWrite);
    server.GetDWORD("RevName", &revName);
    server.GetDWORD("PrivMode", &privMode);
    server.GetDWORD("ThruOut", &thruOut);
    server.GetDWORD("AccessFiles", &accessFiles);
    server.GetDWORD("PacketSize", &packetSize);
    server.GetDWORD("ThruPut", &thruPut);
    // Less than one full reply a second could never be kept to.
    if (thruPut < fsp::Throughput::kMinLimit) thruPut = fsp::Throughput::kMinLimit;
    LoadHosts();
    ApplyThroughput();
    // A Location key that cannot be read serves nothing rather than drive C:.
    rootUsable = location.isOpen && LoadPath(location, "RootPath", rootPath) && fsp::UsableRoot(rootPath);
    // A refused log path stays empty: no log opens, and the operator is told.
    LoadPath(location, "LogPath", logPath);
}

void FSPDaemon::SaveSettings() {
    if (long error = StoreSettings(*this)) TellUnsaved(error);
    ApplyThroughput();
    // The change is logged where the log is open: before it closes, after
    // it opens.
    if (!logging) LogChanges();
    if (logging) StartLog();
    else eventLog.StopLogFile();
    LogChanges();
    // The status bar follows every change, from the menu or a dialog.
    if (hWnd) PostMessageA(hWnd, WM_FSP_STATUS, 0, 0);
}

void FSPDaemon::StartLog() {
    if (eventLog.StartLogFile(logPath)) return;
    char reason[256];
    SystemText(eventLog.lastError, reason, sizeof(reason));
    char text[fsp::kMaxPath + 512];
    std::snprintf(text, sizeof(text),
                  "Unable to open log file %s: %s (error %lu).\n\nNothing is logged until it can be opened: mend "
                  "the path (LogPath in the registry) or the folder, then switch Security > Logging off and on.",
                  logPath[0] ? logPath : "(no usable path in the registry)", reason[0] ? reason : "unknown reason",
                  eventLog.lastError);
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONERROR);
}

void FSPDaemon::LogChanges() {
    Logged now = {1, port, uploadOnly != 0, readWrite != 0, logging != 0, acceptRequests != 0, {}};
    std::snprintf(now.root, sizeof(now.root), "%s", rootPath);
    if (!logged.known) {
        logged = now;
        return;
    }
    char text[2 * fsp::kMaxPath + 64];
    auto onOff = [](int on) { return on ? "on" : "off"; };
    if (now.port != logged.port) {
        std::snprintf(text, sizeof(text), "Setting changed: Port from %d to %d", logged.port, now.port);
        LogServer(text);
    }
    if (std::strcmp(now.root, logged.root) != 0) {
        std::snprintf(text, sizeof(text), "Setting changed: Server Root from %s to %s", logged.root, now.root);
        LogServer(text);
    }
    const char* access = fsp::AccessLevel(now.uploadOnly, now.readWrite);
    const char* before = fsp::AccessLevel(logged.uploadOnly, logged.readWrite);
    if (std::strcmp(access, before) != 0) {
        std::snprintf(text, sizeof(text), "Setting changed: Access from %s to %s", before, access);
        LogServer(text);
    }
    if (now.logging != logged.logging) {
        std::snprintf(text, sizeof(text), "Setting changed: Logging from %s to %s", onOff(logged.logging),
                      onOff(now.logging));
        LogServer(text);
    }
    if (now.acceptRequests != logged.acceptRequests) {
        std::snprintf(text, sizeof(text), "Setting changed: Accept Incoming Requests from %s to %s",
                      onOff(logged.acceptRequests), onOff(now.acceptRequests));
        LogServer(text);
    }
    // Lines are written only while the log is open: a change made while it
    // is closed is logged from what the log last said.
    if (eventLog.IsOpen()) logged = now;
}

void FSPDaemon::InstanceName(char* out, size_t size) {
    // Per machine: a second copy in another session would empty the same
    // upload folder and fail to bind the same port.
    std::snprintf(out, size, "Global\\%s", kInstanceKey);
}

void FSPDaemon::LoadHosts() {
    RegistryKey server(kServerKey);
    std::vector<std::string> rules;
    hostsError.clear();
    if (!server.HasValue("Hosts")) {
        SetHosts(rules, &hostsError);
    } else if (!server.GetMultiString("Hosts", &rules)) {
        // Not a list of rules at all: whatever it meant to keep out stays
        // out, as does everyone else, until it is mended.
        hostTable.FailClosed();
        hostRules.clear();
        hostsError = "The value \"Hosts\" is not a list of rules (REG_MULTI_SZ of at most 64 KiB)";
    } else if (!SetHosts(rules, &hostsError)) {
        hostTable.FailClosed();
        // Kept as stored, for the operator to mend in the dialog.
        hostRules = rules;
    }
}

int FSPDaemon::SaveHosts(const std::vector<std::string>& rules) {
    RegistryKey server(kServerKey);
    if (server.SaveMultiString("Hosts", rules)) return 1;
    TellUnsaved(server.lastError != ERROR_SUCCESS ? server.lastError : ERROR_WRITE_FAULT);
    return 0;
}

void FSPDaemon::TellUnsaved(long error) {
    char reason[256];
    SystemText(static_cast<unsigned long>(error), reason, sizeof(reason));
    char text[1024];
    std::snprintf(text, sizeof(text),
                  "The settings could not be saved in the registry (error %ld: %s). They hold only "
                  "until VrelFSPd ends.\n\nThey are kept under HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane\\"
                  "VrelFSPd, which only an administrator may change unless users were given the right: "
                  "run VrelFSPd once as an administrator and make the change there, or let the setup "
                  "program give users the right to change the settings.",
                  error, reason);
    MessageBoxA(hWnd, text, "VrelFSPd", MB_OK | MB_ICONWARNING);
}

void FSPDaemon::GetStatus(HMENU menu) {
    for (const FlagItem& item : kFlagItems)
        this->*item.member = static_cast<int>(GetMenuState(menu, item.id, MF_BYCOMMAND) & MF_CHECKED);
}

void FSPDaemon::SetStatus(HMENU menu) {
    for (const FlagItem& item : kFlagItems)
        CheckMenuItem(menu, item.id, MF_BYCOMMAND | (this->*item.member ? MF_CHECKED : MF_UNCHECKED));
    EnableMenuItem(menu, IDM_UPLOADONLY, MF_BYCOMMAND | (readWrite ? MF_GRAYED : MF_ENABLED));
}
