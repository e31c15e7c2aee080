#include "UploadCache.h"

#include <cstring>
#include <new>

// Port and IPv4 address: the six bytes after the address family.
static bool SameClient(const sockaddr* a, const sockaddr* b) {
    return std::memcmp(a->sa_data, b->sa_data, 6) == 0;
}

UploadCache::~UploadCache() {
    // Uploads never installed leave nothing behind: a stale temporary file
    // would only use up the platform's 65,535 temporary names.
    while (head) {
        UploadEntry* e = head;
        head = e->next;
        if (e->tempFileName[0]) ::DeleteFileA(e->tempFileName);
        delete e;
    }
}

UploadEntry* UploadCache::Add(sockaddr* address) {
    UploadEntry* e = new (std::nothrow) UploadEntry;
    if (!e) return nullptr;
    std::memcpy(&e->address, address, sizeof(sockaddr));
    // Without a file the entry still stands: its pieces fail, and the
    // client's next install ends it.
    if (!GetTempFileNameA(".", "FSP", 0, e->tempFileName)) e->tempFileName[0] = '\0';
    e->prev = nullptr;
    e->next = head;
    if (head) head->prev = e;
    head = e;
    return e;
}

UploadEntry* UploadCache::Find(sockaddr* address) {
    for (UploadEntry* e = head; e; e = e->next)
        if (SameClient(&e->address, address)) return e;
    return nullptr;
}

int UploadCache::Remove(sockaddr* address) {
    UploadEntry* e = Find(address);
    if (!e) return 0;
    if (e->prev) e->prev->next = e->next;
    else head = e->next;
    if (e->next) e->next->prev = e->prev;
    delete e;
    return 1;
}

int UploadCache::Discard(sockaddr* address) {
    UploadEntry* e = Find(address);
    if (!e) return 0;
    if (e->tempFileName[0]) ::DeleteFileA(e->tempFileName);
    return Remove(address);
}

int UploadCache::Upload(sockaddr* address, long position, unsigned char* data, int length) {
    UploadEntry* e = Find(address);
    if (!e) e = Add(address);
    if (!e || !e->tempFileName[0]) return 0;
    HANDLE h = CreateFileA(e->tempFileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    // No high part: a position of 2^31 or more is negative and refused.
    if (position < 0 || SetFilePointer(h, position, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        CloseHandle(h);
        return 0;
    }
    DWORD written = 0;
    if (length > 0 && (!WriteFile(h, data, DWORD(length), &written, nullptr) ||
                       written != DWORD(length))) {
        CloseHandle(h);
        return 0;
    }
    CloseHandle(h);
    return 1;
}

int UploadCache::Install(sockaddr* address, char* target) {
    UploadEntry* e = Find(address);
    if (!e) return 0;
    // A move to another volume is a copy, and a copy that runs out of room
    // leaves a cut-off file under the new name. A move never replaces, so
    // a name that was free before and is taken after a failed move holds
    // only what the move left: a failed install leaves nothing installed.
    bool targetFree = GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES;
    int ok = e->tempFileName[0] && MoveFileA(e->tempFileName, target) ? 1 : 0;
    if (ok) return Remove(address);
    if (targetFree && e->tempFileName[0] && GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES)
        ::DeleteFileA(target);
    Discard(address);
    return 0;
}
