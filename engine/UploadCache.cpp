#include "UploadCache.h"

#include <cstdio>
#include <cstring>

#include "core/Paths.h"

namespace {
// A handle closed on every path.
struct File {
    HANDLE h;
    explicit File(HANDLE handle) : h(handle) {}
    ~File() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    bool Ok() const { return h != INVALID_HANDLE_VALUE; }
};

// Writes n bytes at position. A seek and a plain write: under Wine a write
// given its offset in an OVERLAPPED goes the slow way through the server
// and costs more than the two together (bench/calls.cpp measures both).
bool WriteAt(HANDLE h, uint32_t position, const unsigned char* data, int n) {
    if (n <= 0) return true;
    LARGE_INTEGER at;
    at.QuadPart = position;
    DWORD written = 0;
    return SetFilePointerEx(h, at, nullptr, FILE_BEGIN) &&
           WriteFile(h, data, DWORD(n), &written, nullptr) && written == DWORD(n);
}

// Sets a file's last-write time from seconds since 1970.
bool SetWriteTime(const char* path, uint32_t unixTime) {
    File f(CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr));
    if (!f.Ok()) return false;
    ULONGLONG ticks = (ULONGLONG(unixTime) + 11644473600ull) * 10000000ull;
    FILETIME t;
    t.dwLowDateTime = DWORD(ticks);
    t.dwHighDateTime = DWORD(ticks >> 32);
    return SetFileTime(f.h, nullptr, nullptr, &t) != 0;
}

// Moves a finished upload to target so that target appears complete or
// not at all. A rename within a volume is atomic; across volumes the file
// is copied to a hidden name beside the target first and renamed when
// complete. Nothing ever replaces an existing file.
bool MoveWhole(const char* from, const char* target, unsigned long id) {
    if (MoveFileExA(from, target, 0)) return true;
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) return false;
    char part[MAX_PATH];
    const char* slash = std::strrchr(target, '\\');
    int dir = slash ? int(slash - target + 1) : 0;
    if (std::snprintf(part, sizeof(part), "%.*s.vfspd-%08lX.part", dir, target, id) >=
        int(sizeof(part)))
        return false;
    if (!CopyFileA(from, part, TRUE)) {
        ::DeleteFileA(part);
        return false;
    }
    if (!MoveFileExA(part, target, 0)) {
        ::DeleteFileA(part);
        return false;
    }
    ::DeleteFileA(from);
    return true;
}
} // namespace

UploadCache::UploadCache() : table(kMaxUploads, kMaxPerAddress, kIdleMs) {}

UploadCache::~UploadCache() {
    // Uploads never installed leave nothing behind.
    table.Clear(Delete);
}

void UploadCache::Delete(Entry& e) {
    if (e.fileName[0]) ::DeleteFileA(e.fileName);
    e.fileName[0] = '\0';
}

int UploadCache::Start() {
    if (started) return folder[0] != '\0';
    started = 1;
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(fsp::kUploadFolder, sizeof(full), full, nullptr);
    // Room for the folder, a backslash and a file name of 12 characters.
    if (n == 0 || n + 14 >= sizeof(full)) return 0;
    if (!CreateDirectoryA(full, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return 0;
    DWORD attributes = GetFileAttributesA(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    // What an earlier run left (it was stopped without closing) goes.
    char pattern[MAX_PATH + 4];
    std::snprintf(pattern, sizeof(pattern), "%s\\*", full);
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA(pattern, &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            char path[MAX_PATH * 2];
            std::snprintf(path, sizeof(path), "%s\\%s", full, fd.cFileName);
            SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(path);
        } while (FindNextFileA(find, &fd));
        FindClose(find);
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
        File f(CreateFileA(e->fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (f.Ok()) return 1;
        DWORD error = GetLastError();
        // The folder went away under the running server: make it again.
        if (error == ERROR_PATH_NOT_FOUND && CreateDirectoryA(folder, nullptr)) continue;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    e->fileName[0] = '\0';
    return 0;
}

int UploadCache::Upload(const unsigned char* client, uint32_t position, const unsigned char* data,
                        int length, uint64_t now) {
    if (length < 0 || position > kMaxSize || uint32_t(length) > kMaxSize - position) return 0;
    Entry* e = table.Find(client, now);
    // Pieces may come in any order, but within reach of what is there.
    uint32_t end = (e && position != 0) ? e->size : 0;
    if (position > end && position - end > kMaxAhead) return 0;
    if (!e) {
        if (!Start()) return 0;
        Expire(now);
        e = table.Insert(client, now, Delete);
        if (!e) return 0;
        if (!NewFile(e)) {
            table.Remove(client, Delete);
            return 0;
        }
    }
    // A first piece starts the upload afresh: a client that left an upload
    // unfinished and starts another from the same port must not get the
    // old upload's tail. (A resent first piece never gets here.)
    DWORD disposition = position == 0 ? TRUNCATE_EXISTING : OPEN_EXISTING;
    File f(CreateFileA(e->fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                       FILE_FLAG_RANDOM_ACCESS, nullptr));
    if (!f.Ok()) return 0;
    if (position == 0) e->size = 0;
    if (!WriteAt(f.h, position, data, length)) return 0;
    uint32_t pieceEnd = position + uint32_t(length);
    if (pieceEnd > e->size) e->size = pieceEnd;
    return 1;
}

int UploadCache::Install(const unsigned char* client, const char* target, const uint32_t* unixTime,
                         uint64_t now) {
    Entry* e = table.Find(client, now);
    if (!e) return 0;
    bool ok = e->fileName[0] && (!unixTime || SetWriteTime(e->fileName, *unixTime)) &&
              MoveWhole(e->fileName, target, nextId++);
    if (ok) e->fileName[0] = '\0'; // it is the installed file now
    table.Remove(client, Delete);
    return ok ? 1 : 0;
}

int UploadCache::Discard(const unsigned char* client) {
    size_t before = table.Count();
    table.Remove(client, Delete);
    return table.Count() < before ? 1 : 0;
}

void UploadCache::Expire(uint64_t now) { table.Expire(now, Delete); }

const char* UploadCache::FileOf(const unsigned char* client, uint64_t now) {
    Entry* e = table.Find(client, now);
    return e && e->fileName[0] ? e->fileName : nullptr;
}
