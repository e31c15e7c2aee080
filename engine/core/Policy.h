// Who may do what: the one access table every command passes through, the
// rights of each directory (the access level and the directory's own access
// files), and the flag and protection bytes that advertise them to clients.
// Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "Packet.h"
#include "Paths.h"

namespace fsp {

enum class Access {
    Always,    // served at every access level
    Upload,    // needs uploadOnly or readWrite
    ReadWrite, // needs readWrite
    Never,     // refused whatever the settings
};

// The right of a directory a command needs, and which directory's.
enum class Need : uint8_t {
    None,    // none: the access level alone decides
    Get,     // read files of the directory the path is in
    List,    // list the directory the path names
    Add,     // add files to the directory the path is in
    Delete,  // delete in the directory the path is in (files, directories)
    MakeDir, // make directories in the directory the path is in
    Rename,  // rename in and out of: the directories of both paths
    Upload,  // upload pieces: where they go is named only by the install
};

struct CommandPolicy {
    uint8_t code;
    Access access;
    // Error text when refused; null for a command that is never refused.
    // Those of Get and List quote the path with their %s.
    const char* refusal;
    // 1 for a command that changes the tree or an upload: running it twice
    // is not running it once, so a resent request is answered with the
    // reply kept from its first run instead of running it again.
    int remembered;
    Need need;
};

// Three levels: read-only (neither flag), uploads (uploadOnly), and full
// read/write (readWrite, which includes everything uploadOnly allows).
// With access files the directories' own rights decide (Need); without,
// the level alone, which DirectoryRights turns into the same rights.
inline constexpr CommandPolicy kPolicy[] = {
    {CC_VERSION, Access::Always, nullptr, 0, Need::None},
    {CC_GET_DIR, Access::Always, "Directory %s does not exist!", 0, Need::List},
    {CC_GET_FILE, Access::Always, "Unable to open file: %s", 0, Need::Get},
    {CC_UP_LOAD, Access::Upload, "Upload Access Denied", 1, Need::Upload},
    {CC_INSTALL, Access::Upload, "Install Access Denied", 1, Need::Add},
    {CC_DEL_FILE, Access::ReadWrite, "DEL_FILE: Access Denied", 1, Need::Delete},
    // A directory is removed from its parent: the parent's delete right.
    {CC_DEL_DIR, Access::ReadWrite, "RMDIR:  Access Denied", 1, Need::Delete},
    {CC_GET_PRO, Access::Always, nullptr, 0, Need::None},
    {CC_SET_PRO, Access::Never, "SET_PRO:  Access Denied", 0, Need::None},
    {CC_MAKE_DIR, Access::Upload, "MKDIR:  Access Denied", 1, Need::MakeDir},
    {CC_BYE, Access::Always, nullptr, 0, Need::None},
    {CC_GRAB_FILE, Access::Never, "GRAB_FILE:  Not Implemented on this Server", 0, Need::None},
    {CC_GRAB_DONE, Access::Never, "GRAB_DONE:  Not Implemented on this Server", 0, Need::None},
    // Current clients ask for it before anything else, and take an error
    // reply for an old server: it is answered at every level, never with
    // an error.
    {CC_STAT, Access::Always, nullptr, 0, Need::None},
    // Takes a name away from where it was, as a delete does.
    {CC_RENAME, Access::ReadWrite, "RENAME:  Access Denied", 1, Need::Rename},
};

// The policy of a served command code (a row of kPolicy), or null for an
// unsupported one.
const CommandPolicy* FindPolicy(uint8_t code);

// 1 when the access level lets the command through.
int Allowed(Access access, int uploadOnly, int readWrite);

// The server-flag byte of the version reply. 0x20 is always set: requests
// may carry extra data (a block size, a file's time, a rename's target).
uint8_t ServerFlagByte(int logging, int uploadOnly, int readWrite, int revName, int privMode,
                       int thruOut);

// The extra data of the version reply, laid out in out (at least 7 bytes):
// the flag byte, the throughput limit in 4 bytes when flags has 0x10, then
// the packet size in 2 bytes when it is not 0. Returns their length,
// which is the reply's position.
constexpr int kMaxVersionExtras = 7;
int VersionExtras(unsigned char* out, uint8_t flags, uint32_t thruputOrZero, uint16_t packetSize);

// A directory's rights, in the bits of the protection reply.
enum DirRight : uint8_t {
    kDirOwner = 0x01,   // the caller owns the directory (never: no owners here)
    kDirDelete = 0x02,  // files and directories may be deleted from it
    kDirAdd = 0x04,     // files may be added
    kDirMakeDir = 0x08, // directories may be made in it
    kDirNoGet = 0x10,   // its files may NOT be read
    kDirReadme = 0x20,  // a text precedes the byte in the protection reply
    kDirList = 0x40,    // it may be listed
    kDirRename = 0x80,  // names may move in and out of it
};

// The access files a directory may hold: empty files, each of which grants
// or denies one right in its own directory only.
enum AccessFile : unsigned {
    kOkAdd = 0x01,
    kOkDel = 0x02,
    kOkMkdir = 0x04,
    kOkRename = 0x08,
    kNoGet = 0x10,
    kNoList = 0x20,
};
struct AccessFileName {
    const char* name;
    unsigned file;
};
inline constexpr AccessFileName kAccessFiles[] = {
    {".FSP_OK_ADD", kOkAdd},       {".FSP_OK_DEL", kOkDel},   {".FSP_OK_MKDIR", kOkMkdir},
    {".FSP_OK_RENAME", kOkRename}, {".FSP_NO_GET", kNoGet},   {".FSP_NO_LIST", kNoList},
};

// The rights of a directory: what the access level allows, plus what its
// access files grant, minus what they deny. Without access files (files
// 0), exactly the level: read-only lists and reads; uploads only adds
// files and makes directories as well; full read/write also deletes and
// renames. kDirReadme is not included.
uint8_t DirectoryRights(int uploadOnly, int readWrite, unsigned files);

// Whether rights let a command with this need through (for Rename, each
// of the two directories' rights must). Need::None and Need::Upload are the
// level's to decide (Allowed); they are let through here.
int Permitted(Need need, uint8_t rights);

// The protection byte of a directory with these rights: a text always
// precedes it, the directory's readme or the version text.
inline uint8_t ProtectionByte(uint8_t rights) { return uint8_t(rights | kDirReadme); }

// For the log: the rule that refused a command of this need in a directory
// with these access files, such as "read-only level, no .FSP_OK_ADD" or
// ".FSP_NO_GET". accessFiles 0: the level alone decides.
std::string RefusingRule(Need need, int uploadOnly, int readWrite, int accessFiles, unsigned files);

// The directory of a request path: the path without its last name, "" for
// a name in the root. Separators of either kind; trailing ones and "." names
// are no names. Copied into out (cap bytes); null when it does not fit.
const char* ParentPath(const char* requestPath, char* out, size_t cap);

// What the access files of each directory said, kept briefly: a change by
// the operator shows within kMaxAgeMs. At most kMaxDirs directories.
class AccessFileCache {
public:
    static constexpr uint64_t kMaxAgeMs = 500;
    static constexpr size_t kMaxDirs = 256;
    // The files noted for the directory at local path dir, or -1 when none
    // are noted or the note is too old at now.
    int Find(const std::string& dir, uint64_t now) const;
    void Keep(const std::string& dir, unsigned files, uint64_t now);

private:
    struct Note {
        unsigned files;
        uint64_t at;
    };
    std::unordered_map<std::string, Note> notes;
};

extern const char kVersionText[]; // sent with its NUL: 38 bytes
constexpr int kVersionTextSize = 38;

} // namespace fsp
