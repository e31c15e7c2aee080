#include "OpenFiles.h"

#include "FileSystem.h"

#include <cstring>
#include <utility>

HANDLE OpenFiles::Open(const char* path, DWORD access, uint64_t now) {
    // The file's slot, else a free one, else the least recently used.
    Slot* slot = nullptr;
    for (Slot& s : slots) {
        if (s.file.Ok()) {
            if (s.access == access && std::strcmp(s.path, path) == 0) {
                s.lastUsed = now;
                return s.file.Get();
            }
            if (!slot || (slot->file.Ok() && s.lastUsed < slot->lastUsed)) slot = &s;
        } else if (!slot || slot->file.Ok()) {
            slot = &s;
        }
    }
    size_t n = std::strlen(path);
    if (n >= sizeof(slot->path)) return INVALID_HANDLE_VALUE;
    FileHandle f(fsys::Open(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS));
    if (!f.Ok()) return INVALID_HANDLE_VALUE;
    slot->file = std::move(f);
    std::memcpy(slot->path, path, n + 1);
    slot->identity = fsys::Identity(path);
    slot->access = access;
    slot->lastUsed = now;
    return slot->file.Get();
}

void OpenFiles::Drop(const std::string& identity) {
    for (Slot& s : slots)
        if (s.file.Ok() && fsys::AtOrBelow(s.identity, identity)) s.file.Close();
}

void OpenFiles::Close(const char* path) {
    for (Slot& s : slots)
        if (s.file.Ok() && std::strcmp(s.path, path) == 0) s.file.Close();
}

void OpenFiles::Expire(uint64_t now) {
    for (Slot& s : slots)
        if (s.file.Ok() && now - s.lastUsed >= kIdleMs) s.file.Close();
}

size_t OpenFiles::Count() const {
    size_t n = 0;
    for (const Slot& s : slots) n += s.file.Ok() ? 1 : 0;
    return n;
}
