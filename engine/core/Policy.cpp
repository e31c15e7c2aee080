#include "Policy.h"

#include <cstring>
#include <iterator>

namespace fsp {

const char kVersionText[] = "VrelFSPd for Win95 v1.0b3 Dec 18 1995";
static_assert(sizeof(kVersionText) == kVersionTextSize, "version text is 38 bytes with NUL");

const CommandPolicy* FindPolicy(uint8_t code) {
    for (const CommandPolicy& p : kPolicy)
        if (p.code == code) return &p;
    return nullptr;
}

int Allowed(Access access, int uploadOnly, int readWrite) {
    switch (access) {
    case Access::Always: return 1;
    case Access::Upload: return (uploadOnly || readWrite) ? 1 : 0;
    case Access::ReadWrite: return readWrite ? 1 : 0;
    case Access::Never: return 0;
    }
    return 0;
}

uint8_t ServerFlagByte(int logging, int uploadOnly, int readWrite, int revName, int privMode,
                       int thruOut) {
    uint8_t b = 0;
    if (logging) b |= 0x01;
    if (!uploadOnly && !readWrite) b |= 0x02;
    if (revName) b |= 0x04;
    if (privMode) b |= 0x08;
    if (thruOut) b |= 0x10;
    return uint8_t(b | 0x20);
}

int VersionExtras(unsigned char* out, uint8_t flags, uint32_t thruputOrZero, uint16_t packetSize) {
    int n = 0;
    out[n++] = flags;
    if (flags & 0x10) {
        PutU32(out + n, thruputOrZero);
        n += 4;
    }
    if (packetSize) {
        PutU16(out + n, packetSize);
        n += 2;
    }
    return n;
}

uint8_t DirectoryRights(int uploadOnly, int readWrite, unsigned files) {
    uint8_t r = kDirList;
    if (uploadOnly || readWrite) r |= kDirAdd | kDirMakeDir;
    if (readWrite) r |= kDirDelete | kDirRename;
    if (files & kOkAdd) r |= kDirAdd;
    if (files & kOkDel) r |= kDirDelete;
    if (files & kOkMkdir) r |= kDirMakeDir;
    if (files & kOkRename) r |= kDirRename;
    if (files & kNoGet) r |= kDirNoGet;
    if (files & kNoList) r &= uint8_t(~kDirList);
    return r;
}

namespace {
// The right a need asks for, and the access file that grants (or denies) it.
struct NeedRight {
    Need need;
    uint8_t right;
    unsigned file;
};
constexpr NeedRight kNeedRights[] = {
    {Need::Get, kDirNoGet, kNoGet},         {Need::List, kDirList, kNoList},
    {Need::Add, kDirAdd, kOkAdd},           {Need::Delete, kDirDelete, kOkDel},
    {Need::MakeDir, kDirMakeDir, kOkMkdir}, {Need::Rename, kDirRename, kOkRename},
};

const NeedRight* RightOf(Need need) {
    for (const NeedRight& n : kNeedRights)
        if (n.need == need) return &n;
    return nullptr;
}

const char* FileName(unsigned file) {
    for (const AccessFileName& a : kAccessFiles)
        if (a.file == file) return a.name;
    return "";
}
} // namespace

int Permitted(Need need, uint8_t rights) {
    const NeedRight* n = RightOf(need);
    if (!n) return 1;
    // Reading is the one right a file takes away.
    return n->right == kDirNoGet ? !(rights & kDirNoGet) : (rights & n->right) != 0;
}

std::string RefusingRule(Need need, int uploadOnly, int readWrite, int accessFiles, unsigned files) {
    const NeedRight* n = RightOf(need);
    // A denying file refuses whatever the level.
    if (accessFiles && n && (n->file & (kNoGet | kNoList)) && (files & n->file)) return FileName(n->file);
    std::string rule = readWrite ? "full read/write level" : uploadOnly ? "uploads-only level" : "read-only level";
    if (accessFiles && n && !(n->file & (kNoGet | kNoList))) rule += std::string(", no ") + FileName(n->file);
    return rule;
}

const char* ParentPath(const char* requestPath, char* out, size_t cap) {
    // The end of the last name that is not "." and the start of it.
    size_t end = std::strlen(requestPath);
    for (;;) {
        while (end > 0 && (requestPath[end - 1] == '/' || requestPath[end - 1] == '\\')) --end;
        size_t start = end;
        while (start > 0 && requestPath[start - 1] != '/' && requestPath[start - 1] != '\\') --start;
        if (end - start == 1 && requestPath[start] == '.') {
            end = start;
            continue;
        }
        if (start >= cap) return nullptr;
        std::memcpy(out, requestPath, start);
        out[start] = '\0';
        return out;
    }
}

int AccessFileCache::Find(const std::string& dir, uint64_t now) const {
    auto it = notes.find(dir);
    if (it == notes.end() || now - it->second.at >= kMaxAgeMs) return -1;
    return int(it->second.files);
}

void AccessFileCache::Keep(const std::string& dir, unsigned files, uint64_t now) {
    // Old notes are dropped all at once; a full table starts afresh.
    if (notes.size() >= kMaxDirs) {
        for (auto it = notes.begin(); it != notes.end();)
            it = now - it->second.at >= kMaxAgeMs ? notes.erase(it) : std::next(it);
        if (notes.size() >= kMaxDirs) notes.clear();
    }
    notes[dir] = {files, now};
}

} // namespace fsp
