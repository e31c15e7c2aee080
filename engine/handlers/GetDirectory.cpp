// The get-directory command: one block of a directory's listing. The
// layout and the kept listings live in the core; this side enumerates the
// directory and reads its time stamp.
#include <cstring>
#include <utility>

#include "../FSPDaemon.h"
#include "../core/ListingCache.h"

namespace {
// A find-first/find-next enumeration, closed on every path.
struct Enumeration {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA data = {};
    bool pending = false; // data holds an entry not yet handed out

    ~Enumeration() {
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
    }
};

// Pulls the next entry into e: 1, or 0 at the end.
int NextFound(Enumeration* en, fsp::DirEntry* e) {
    if (!en->pending && !FindNextFileA(en->find, &en->data)) return 0;
    en->pending = false;
    // cFileName always holds its NUL within its MAX_PATH bytes.
    en->data.cFileName[sizeof(en->data.cFileName) - 1] = '\0';
    e->isDir = (en->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e->unixTime = fsp::FileTimeToUnixTime(en->data.ftLastWriteTime.dwLowDateTime,
                                          en->data.ftLastWriteTime.dwHighDateTime);
    e->size = en->data.nFileSizeLow;
    e->name = en->data.cFileName;
    return 1;
}

// Starts the enumeration of the directory at local path dir.
bool StartEnumeration(const char* dir, Enumeration* en) {
    char pattern[fsp::kMaxPath];
    size_t n = std::strlen(dir);
    const char* wildcard = (n > 0 && dir[n - 1] == '\\') ? "*.*" : "\\*.*";
    if (n + std::strlen(wildcard) >= sizeof(pattern)) return false;
    std::memcpy(pattern, dir, n);
    std::memcpy(pattern + n, wildcard, std::strlen(wildcard) + 1);
    en->find = FindFirstFileA(pattern, &en->data);
    en->pending = en->find != INVALID_HANDLE_VALUE;
    return en->pending;
}

// The whole enumeration of the directory at local path dir; false when
// it cannot be enumerated.
bool Enumerate(const char* dir, fsp::EntryList* entries) {
    Enumeration en;
    if (!StartEnumeration(dir, &en)) return false;
    fsp::DirEntry e;
    while (NextFound(&en, &e)) entries->Add(e);
    return true;
}

uint64_t FileTime(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// The directory's last-write time, which every entry made, removed or
// renamed in it moves; 0 when unknown.
uint64_t DirectoryTime(const char* dir) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(dir, GetFileExInfoStandard, &a)) return 0;
    return FileTime(a.ftLastWriteTime);
}

// DirectoryTime for a listing about to be made, or 0 when the directory
// changed within the last 100 ms: file systems stamp with a coarse clock,
// and a change in the same tick would leave the time as it was.
uint64_t SettledDirectoryTime(const char* dir) {
    uint64_t t = DirectoryTime(dir);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return t != 0 && t + 1000000 < FileTime(now) ? t : 0;
}
} // namespace

void FSPDaemon::GetDirectory() {
    const char* shown = ShownPath();
    const char* path = fsp::RequestText(*this);
    char local[fsp::kMaxPath];
    // A request without data, or whose path has no NUL, names no directory.
    if (!path || dataLength == 0 || !LocalPath(path, local)) {
        ErrorMsgf("Directory %s does not exist!", shown);
        return;
    }
    // Listings are shared by every client. A block is cut from a kept one
    // only while it is young and its directory unchanged, so it costs a
    // copy instead of an enumeration however often it is asked for, and
    // never names an entry that was gone before the request came. An
    // unchanged directory is laid out anew in the same order, so a client
    // reading on across the renewal still gets one listing.
    uint64_t now = GetTickCount64();
    fsp::ListingCache::Listing* kept = listingCache.Find(local);
    if (kept && !fsp::ListingCache::Fresh(*kept, now, DirectoryTime(local))) kept = nullptr;
    if (!kept) {
        uint64_t dirTime = SettledDirectoryTime(local);
        fsp::EntryList entries;
        if (!Enumerate(local, &entries)) {
            ErrorMsgf("Directory %s does not exist!", shown);
            return;
        }
        kept = listingCache.Store(local, std::move(entries), now, dirTime);
    }
    const fsp::Layout* layout = listingCache.LayoutFor(kept, fsp::RequestBlockSize(*this));
    unsigned char block[fsp::kMaxPayload];
    int length = layout ? fsp::SliceListing(*layout, position, block) : 0;
    listingCache.Trim();
    if (!layout) {
        ErrorMsgf("Directory %s is too large to list!", shown);
        return;
    }
    if (length < 0) {
        ErrorMsgf("Directory %s has no block at that position!", shown);
        return;
    }
    Reply(position, block, nullptr, length, 0, 0);
    if (position == 0) LogClient("Get directory listing");
}
