// The server's settings: defaults, the registry, and their mirror in the
// Security menu's check marks.
#include <cstring>
#include <string>

#include "../engine/FSPDaemon.h"
#include "../ui/resource.h"
#include "RegistryKey.h"

namespace {
const char kServerKey[] = "SOFTWARE\\Quorvane\\VrelFSPd\\Server";
const char kLocationKey[] = "SOFTWARE\\Quorvane\\VrelFSPd\\Location";

// Reads a path whole into its MAX_PATH field, or leaves it untouched when
// the value is missing or of another type. A path too long for the field,
// or even to be read, is refused rather than cut, since a cut path names
// another file or directory: the field is emptied and 0 returned.
int LoadPath(RegistryKey& key, const char* name, char* field) {
    std::string text;
    int read = key.GetString(name, &text);
    if (!read && !key.HasString(name)) return 1;
    if (!read || text.size() >= MAX_PATH) {
        field[0] = '\0';
        return 0;
    }
    std::memcpy(field, text.c_str(), text.size() + 1);
    return 1;
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

// Writes all nine values; the log is left as it is.
void StoreSettings(const FSPDaemon& d) {
    RegistryKey server(kServerKey);
    RegistryKey location(kLocationKey);
    server.SaveDWORD("FSPPort", static_cast<unsigned long>(d.port));
    server.SaveDWORD("Logging", static_cast<unsigned long>(d.logging));
    server.SaveDWORD("UploadOnly", static_cast<unsigned long>(d.uploadOnly));
    server.SaveDWORD("ReadWrite", static_cast<unsigned long>(d.readWrite));
    server.SaveDWORD("RevName", static_cast<unsigned long>(d.revName));
    server.SaveDWORD("PrivMode", static_cast<unsigned long>(d.privMode));
    server.SaveDWORD("ThruOut", static_cast<unsigned long>(d.thruOut));
    // A path refused at loading stays in the registry as the operator
    // wrote it, to be mended there or, for the root, in the dialog.
    if (d.rootUsable) location.SaveString("RootPath", d.rootPath);
    if (d.logPath[0]) location.SaveString("LogPath", d.logPath);
}
} // namespace

void FSPDaemon::DefaultSettings() {
    // Read-only until the operator allows uploads: the default root is a
    // whole drive, and an anonymous upload there could land anywhere the
    // user may write, a Startup folder among them.
    uploadOnly = 0;
    logging = 1;
    readWrite = revName = privMode = thruOut = 0;
    port = 21;
    std::strcpy(rootPath, "C:\\");
    rootUsable = 1;
    std::strcpy(logPath, "VFSPD.LOG");
}

void FSPDaemon::LoadSettings() {
    RegistryKey server(kServerKey);
    RegistryKey location(kLocationKey);
    // Start from the defaults, so a value missing from the registry reads
    // as its default rather than as whatever the member held.
    DefaultSettings();
    if (server.created) {
        // The log is opened by the start-up, once the socket serves.
        StoreSettings(*this);
        return;
    }
    server.GetDWORD("FSPPort", &port);
    server.GetDWORD("Logging", &logging);
    server.GetDWORD("UploadOnly", &uploadOnly);
    server.GetDWORD("ReadWrite", &readWrite);
    server.GetDWORD("RevName", &revName);
    server.GetDWORD("PrivMode", &privMode);
    server.GetDWORD("ThruOut", &thruOut);
    rootUsable = LoadPath(location, "RootPath", rootPath) && fsp::UsableRoot(rootPath);
    // A refused log path stays empty: no log opens, and the operator is told.
    LoadPath(location, "LogPath", logPath);
}

void FSPDaemon::SaveSettings() {
    StoreSettings(*this);
    if (logging) {
        if (!eventLog.StartLogFile(logPath))
            MessageBoxA(nullptr, "Unable to open log file", "Error", MB_OK | MB_ICONERROR);
    } else {
        eventLog.StopLogFile();
    }
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
