#include "OpenFiles.h"

#include "FileSystem.h"

#include <cstring>
#include <utility>

bool OpenFiles::FileId::operator==(const FileId& o) const {
    return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow && sizeHigh == o.sizeHigh &&
           sizeLow == o.sizeLow && written.dwLowDateTime == o.written.dwLowDateTime &&
           written.dwHighDateTime == o.written.dwHighDateTime;
}

OpenFiles::Slot& OpenFiles::Free() {
    Slot* oldest = &slots[0];
    for (Slot& s : slots) {
        if (!s.used) return s;
        if (s.lastUsed < oldest->lastUsed) oldest = &s;
    }
    oldest->file.Close();
    oldest->used = false;
    return *oldest;
}

bool OpenFiles::OpenInto(Slot& s, DWORD access) {
    s.file.Close();
    if (Count() >= kMaxOpen) {
        Slot* oldest = nullptr;
        for (Slot& o : slots)
            if (o.file.Ok() && (!oldest || o.lastUsed < oldest->lastUsed)) oldest = &o;
        if (oldest) oldest->file.Close();
    }
    s.file = FileHandle(fsys::Open(s.path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS));
    return s.file.Ok();
}

HANDLE OpenFiles::Open(const char* path, DWORD access, uint64_t now) {
    Slot* slot = nullptr;
    for (Slot& s : slots)
        if (s.used && !s.run && s.access == access && s.path == path) slot = &s;
    if (slot && slot->file.Ok()) {
        slot->lastUsed = now;
        return slot->file.Get();
    }
    if (std::strlen(path) >= size_t(fsp::kMaxLocalPath)) return INVALID_HANDLE_VALUE;
    Slot& s = slot ? *slot : Free();
    s.used = true;
    s.run = s.broken = false;
    s.path = path;
    s.identity.clear();
    s.access = access;
    s.lastUsed = now;
    if (OpenInto(s, access)) return s.file.Get();
    s.used = false;
    return INVALID_HANDLE_VALUE;
}

void OpenFiles::Close(const char* path) {
    for (Slot& s : slots)
        if (s.used && !s.run && s.path == path) {
            s.file.Close();
            s.used = false;
        }
}

OpenFiles::Slot* OpenFiles::FindRun(const unsigned char* client, const std::string& identity) {
    for (Slot& s : slots)
        if (s.used && s.run && std::memcmp(s.client, client, sizeof(s.client)) == 0 && s.identity == identity)
            return &s;
    return nullptr;
}

HANDLE OpenFiles::Download(const unsigned char* client, const char* path, const std::string& identity,
                           uint32_t position, uint64_t now, bool* broken, uint64_t* size) {
    *broken = false;
    Slot* run = FindRun(client, identity);
    const bool begin = !run || position == 0 || now - run->lastUsed >= kIdleMs;
    if (!begin && run->broken) {
        run->lastUsed = now;
        *broken = true;
        SetLastError(ERROR_FILE_INVALID);
        return INVALID_HANDLE_VALUE;
    }
    if (!begin && run->file.Ok()) {
        run->lastUsed = now;
        *size = run->id.Size();
        return run->file.Get();
    }
    if (std::strlen(path) >= size_t(fsp::kMaxLocalPath)) return INVALID_HANDLE_VALUE;
    if (!run) {
        run = &Free();
        run->used = run->run = true;
        std::memcpy(run->client, client, sizeof(run->client));
        run->identity = identity;
    }
    run->path = path;
    run->access = GENERIC_READ;
    run->lastUsed = now;
    run->broken = false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!OpenInto(*run, GENERIC_READ) || !fsys::Information(run->file.Get(), &info)) {
        const DWORD error = GetLastError();
        run->file.Close();
        // A run under way whose file is gone stays broken until it begins
        // anew; one that could not begin is no run.
        if (begin) run->used = false;
        run->broken = *broken = !begin;
        SetLastError(*broken ? ERROR_FILE_INVALID : error);
        return INVALID_HANDLE_VALUE;
    }
    FileId id;
    id.volume = info.dwVolumeSerialNumber;
    id.indexHigh = info.nFileIndexHigh;
    id.indexLow = info.nFileIndexLow;
    id.sizeHigh = info.nFileSizeHigh;
    id.sizeLow = info.nFileSizeLow;
    id.written = info.ftLastWriteTime;
    if (begin) {
        run->id = id;
    } else if (!(id == run->id)) {
        // Another file has the name now: never a block of it in this run.
        run->file.Close();
        run->broken = *broken = true;
        SetLastError(ERROR_FILE_INVALID);
        return INVALID_HANDLE_VALUE;
    }
    *size = run->id.Size();
    return run->file.Get();
}

void OpenFiles::Rest(const unsigned char* client, const std::string& identity) {
    if (Slot* run = FindRun(client, identity)) run->file.Close();
}

void OpenFiles::LetGo(const std::string& identity) {
    for (Slot& s : slots)
        if (s.used && s.file.Ok() && fsys::AtOrBelow(s.identity, identity)) s.file.Close();
}

void OpenFiles::Expire(uint64_t now) {
    for (Slot& s : slots)
        if (s.used && now - s.lastUsed >= kIdleMs) {
            s.file.Close();
            s.used = false;
        }
}

size_t OpenFiles::Count() const {
    size_t n = 0;
    for (const Slot& s : slots) n += s.file.Ok() ? 1 : 0;
    return n;
}
