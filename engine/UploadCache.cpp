#include "UploadCache.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "FileSystem.h"
#include "core/Listing.h"

namespace {
// Writes n bytes at position. A seek and a plain write: under Wine a write
// given its offset in an OVERLAPPED goes the slow way through the server
// and costs more than the two together (bench/calls.cpp measures both).
bool WriteAt(HANDLE h, uint32_t position, const unsigned char* data, int n) {
    if (n <= 0) return true;
    return fsys::Seek(h, position) && fsys::Write(h, data, DWORD(n));
}

bool CutAt(HANDLE h, uint32_t size) {
    return fsys::Seek(h, size) && fsys::SetEnd(h);
}

// A file time from seconds since 1970.
FILETIME FromUnixTime(uint32_t unixTime) {
    uint64_t ticks = fsp::UnixTimeToFileTime(unixTime);
    FILETIME t;
    t.dwLowDateTime = DWORD(ticks);
    t.dwHighDateTime = DWORD(ticks >> 32);
    return t;
}

uint64_t Reserve(uint64_t volumeBytes) {
    return std::min(UploadCache::kReserveBytes, volumeBytes / UploadCache::kReserveDivisor);
}
} // namespace

bool UploadCache::RoomFor(const char* path, uint64_t bytes) {
    char folder[fsp::kMaxLocalPath];
    const char* slash = std::strrchr(path, '\\');
    if (!slash) return false;
    std::snprintf(folder, sizeof(folder), "%.*s", int(slash - path + 1), path);
    uint64_t available, total;
    return fsys::FreeSpace(folder, &available, &total) && available >= bytes + Reserve(total);
}

UploadCache::UploadCache() : table(kMaxUploads, kMaxPerAddress, kIdleMs) {}

UploadCache::~UploadCache() {
    // Copies stop, and uploads never installed leave nothing behind. Their
    // threads clean up on their own; they are given a moment for it, no
    // more (what a copy leaves, its record names at the next start).
    copies.clear();
    for (DWORD start = GetTickCount(); VolumeCopy::Running() > 0 && GetTickCount() - start < kCopyDrainMs;)
        Sleep(10);
    table.Clear(Gone());
}

uint64_t UploadCache::Key(const unsigned char* client) {
    uint64_t k = 0;
    for (size_t i = 0; i < fsp::kClientKeySize; ++i) k = k << 8 | client[i];
    return k;
}

bool UploadCache::Copying(const unsigned char* client) const {
    auto it = copies.find(Key(client));
    return it != copies.end() && it->second->outcome < 0 && !it->second->copy.Ended();
}

size_t UploadCache::Copies() const {
    size_t n = 0;
    for (const auto& c : copies) n += c.second->outcome < 0;
    return n;
}

void UploadCache::PathChanged(const std::string& id) {
    for (auto& c : copies)
        if (c.second->outcome < 0 && fsys::AtOrBelow(c.second->targetId, id)) {
            c.second->copy.Cancel();
            c.second->outcome = 0;
        }
}

void UploadCache::Moved(const std::string& from, const std::string& toId, const char* to) {
    for (auto& c : copies) {
        Copy& k = *c.second;
        if (k.outcome >= 0 || !fsys::AtOrBelow(k.hiddenId, from)) continue;
        const std::string below = k.hiddenId.substr(from.size());
        k.copy.Moved(to + below);
        k.hiddenId = toId + below;
        k.copy.Cancel();
        k.outcome = 0;
    }
}

void UploadCache::Delete(Entry& e) {
    if (!e.fileName[0]) return;
    open.Close(e.fileName);
    fsys::Delete(e.fileName);
    e.fileName[0] = '\0';
}

int UploadCache::Start(const char* root) {
    if (started) return folder[0] != '\0';
    started = 1;
    if (root && root[0]) rootId = fsys::Identity(root);
    char full[fsp::kMaxPath];
    size_t n = fsys::FullPath(fsp::kUploadFolder, full, sizeof(full)) ? std::strlen(full) : 0;
    // Room for the folder, a backslash and a file name of 20 characters.
    if (n == 0 || n + 22 >= sizeof(full)) return 0;
    if (!fsys::MakeDirectory(full) && GetLastError() != ERROR_ALREADY_EXISTS) return 0;
    DWORD attributes = fsys::AttributeBits(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    // What an earlier run left (it was stopped without closing) goes, and
    // with a record the hidden copy it names.
    fsys::Finder finder;
    fsys::Found fd;
    const size_t suffix = sizeof(VolumeCopy::kRecordSuffix) - 1;
    for (bool more = finder.Start(full); more && finder.Next(&fd);) {
        if (fd.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        char path[fsp::kMaxPath * 4];
        std::snprintf(path, sizeof(path), "%s\\%s", full, fd.name);
        size_t length = std::strlen(fd.name);
        if (length > suffix && std::strcmp(fd.name + length - suffix, VolumeCopy::kRecordSuffix) == 0)
            VolumeCopy::RemoveLeftover(path, rootId);
        fsys::SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
        fsys::Delete(path);
    }
    std::memcpy(folder, full, n + 1);
    return 1;
}

int UploadCache::NewFile(Entry* e) {
    // Names of the server's own, made with CREATE_NEW: an existing file is
    // never written into, whoever made it.
    for (int attempt = 0; attempt < 16; ++attempt) {
        unsigned long id = nextId++;
        std::snprintf(e->fileName, sizeof(e->fileName), "%s\\U%07lX.TMP", folder, id & 0xFFFFFFFul);
        FileHandle f(fsys::Open(e->fileName, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
        if (f.Ok()) return 1;
        DWORD error = GetLastError();
        // The folder went away under the running server: make it again.
        if (error == ERROR_PATH_NOT_FOUND && fsys::MakeDirectory(folder)) continue;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    e->fileName[0] = '\0';
    return 0;
}

bool UploadCache::Room(uint64_t bytes, uint64_t now) {
    // Not a system call a piece: a reading is used for a second, with what
    // this cache writes meanwhile counted off it, and read again before a
    // piece is refused, so that space freed meanwhile counts at once.
    auto read = [&] {
        uint64_t available = 0, total = 0;
        spaceRead = fsys::FreeSpace(folder, &available, &total);
        freeBytes = spaceRead ? available : 0;
        reserve = spaceRead ? Reserve(total) : 0;
        spaceReadAt = now;
    };
    bool fresh = !spaceRead || now - spaceReadAt >= kSpaceCheckMs;
    if (fresh) read();
    if (freeBytes < bytes + reserve && !fresh) read();
    if (!spaceRead || freeBytes < bytes + reserve) return false;
    freeBytes -= bytes;
    return true;
}

int UploadCache::Upload(const unsigned char* client, uint32_t position, const unsigned char* data,
                        int length, uint64_t now) {
    if (length < 0 || position > kMaxSize || uint32_t(length) > kMaxSize - position) return 0;
    Entry* e = table.Find(client, now);
    // Only a first piece opens an upload, and no piece leaves a gap: a
    // piece for an upload that was forgotten (evicted, expired, a server
    // restarted) or past the end would install wrong bytes.
    if (position != 0 && (!e || position > e->size)) return 0;
    // A client that starts anew has given up an install still copying: its
    // outcome must not answer the next install.
    if (position == 0) copies.erase(Key(client)); // given up, not waited for
    if (!e) {
        if (!Start()) return 0;
        Expire(now);
        e = table.Insert(client, now, Gone());
        if (!e) return 0;
        if (!NewFile(e)) {
            table.Remove(client, Gone());
            return 0;
        }
    }
    const uint32_t end = position + uint32_t(length);
    const uint32_t had = position == 0 ? 0 : e->size;
    if (end > had && !Room(end - had, now)) return 0;
    HANDLE h = open.Open(e->fileName, GENERIC_WRITE, now);
    if (h == INVALID_HANDLE_VALUE) return 0;
    // A first piece starts the upload afresh: a client that left an upload
    // unfinished and starts another from the same port must not get the
    // old upload's tail. (A resent first piece never gets here.)
    if (position == 0 && e->size > 0) {
        e->size = 0;
        if (!CutAt(h, 0)) {
            open.Close(e->fileName);
            return 0;
        }
    }
    if (!WriteAt(h, position, data, length)) {
        open.Close(e->fileName);
        return 0;
    }
    if (end > e->size) e->size = end;
    return 1;
}

UploadCache::Installed UploadCache::Install(const unsigned char* client, const char* target,
                                            const uint32_t* unixTime, int replace, uint64_t now) {
    auto found = copies.find(Key(client));
    if (found != copies.end()) {
        Copy& c = *found->second;
        // Whatever the client asks while its copy runs waits for it.
        if (c.outcome < 0 && !c.copy.Ended()) return Installed::Copying;
        if (c.outcome < 0) c.outcome = c.copy.Finish(c.replace);
        const bool resent = c.target == target;
        const int placed = c.outcome;
        copies.erase(found);
        if (resent) return placed ? Installed::Yes : Installed::No;
        // then an install of another upload
    }

    Entry* e = table.Find(client, now);
    if (!e) return Installed::No;
    // Exactly what was acknowledged: the tail of a write that failed goes.
    bool ok = e->fileName[0] != '\0';
    if (ok) {
        HANDLE h = open.Open(e->fileName, GENERIC_WRITE, now);
        ok = h != INVALID_HANDLE_VALUE && CutAt(h, e->size);
        if (ok && unixTime) {
            FILETIME t = FromUnixTime(*unixTime);
            ok = fsys::SetWriteTime(h, t);
        }
        open.Close(e->fileName);
    }
    DWORD attributes = fsys::AttributeBits(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (!replace || (attributes & FILE_ATTRIBUTE_DIRECTORY))) {
        ok = false;
        SetLastError(ERROR_ALREADY_EXISTS);
    }
    // Within a volume a rename puts the file there whole or not at all,
    // and replaces what was there in one step, whoever reads it meanwhile.
    if (ok && fsys::Move(e->fileName, target, replace != 0)) {
        e->fileName[0] = '\0'; // it is the installed file now
        // A file moved keeps the private permissions of the upload folder;
        // it takes those of the folder it now lies in, as a copy does.
        fsys::InheritPermissions(target);
        table.Remove(client, Gone());
        return Installed::Yes;
    }
    if (!ok || GetLastError() != ERROR_NOT_SAME_DEVICE || !RoomFor(target, e->size)) {
        table.Remove(client, Gone());
        return Installed::No;
    }
    // Across volumes: a copy on a thread of its own. With every thread
    // busy, or one busy for this client's address, the upload waits for
    // the client's resend.
    size_t running = 0;
    bool sameAddress = false;
    for (const auto& c : copies)
        if (c.second->outcome < 0) {
            ++running;
            sameAddress |= (c.first & 0xFFFFFFFFu) == (Key(client) & 0xFFFFFFFFu);
        }
    if (running >= kMaxCopies || sameAddress) return Installed::Copying;
    if (copies.size() >= kMaxCopies + kMaxOutcomes) {
        // The oldest outcome goes to make room.
        auto oldest = copies.end();
        for (auto it = copies.begin(); it != copies.end(); ++it)
            if (it->second->outcome >= 0 && (oldest == copies.end() || it->second->endedAt < oldest->second->endedAt))
                oldest = it;
        if (oldest != copies.end()) copies.erase(oldest);
    }
    auto made = std::make_unique<Copy>();
    Copy& c = *made;
    c.target = target;
    c.targetId = fsys::Identity(target);
    c.replace = replace;
    FILETIME t = unixTime ? FromUnixTime(*unixTime) : FILETIME{};
    if (c.targetId.empty() || !c.copy.Start(e->fileName, target, folder, unixTime ? &t : nullptr)) {
        table.Remove(client, Gone());
        return Installed::No;
    }
    c.hiddenId = fsys::Identity(c.copy.Hidden().c_str());
    e->fileName[0] = '\0'; // the copy's now
    table.Remove(client, Gone());
    copies[Key(client)] = std::move(made);
    return Installed::Copying;
}

int UploadCache::Discard(const unsigned char* client) {
    size_t before = table.Count();
    table.Remove(client, Gone());
    return table.Count() < before ? 1 : 0;
}

void UploadCache::Expire(uint64_t now, const std::function<void(const char*, bool)>& tell) {
    table.Expire(now, Gone());
    open.Expire(now);
    // A copy that has ended is put in place at once, as its client asked,
    // and its outcome kept for the client's resend.
    std::vector<std::string> placed;
    for (auto it = copies.begin(); it != copies.end();) {
        Copy& c = *it->second;
        if (c.outcome < 0 && c.copy.Ended()) {
            if (tell) tell(c.target.c_str(), false);
            c.outcome = c.copy.Finish(c.replace);
            c.endedAt = now;
            if (c.outcome) placed.push_back(c.target);
        }
        if (c.outcome >= 0 && now - c.endedAt >= kOutcomeMs) it = copies.erase(it);
        else ++it;
    }
    if (tell)
        for (const std::string& target : placed) tell(target.c_str(), true);
}

const char* UploadCache::FileOf(const unsigned char* client, uint64_t now) {
    Entry* e = table.Find(client, now);
    return e && e->fileName[0] ? e->fileName : nullptr;
}
