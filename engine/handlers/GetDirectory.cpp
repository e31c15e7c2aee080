// The get-directory command: one block of a directory's listing. The
// layout and the kept listings live in the core; this side enumerates the
// directory and reads its time stamp.
#include <cstring>
#include <utility>

#include "../FSPDaemon.h"
#include "../FileSystem.h"
#include "../core/ListingCache.h"

namespace {
uint64_t FileTime(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// The directory's last-write time, which every entry made, removed or
// renamed in it moves; 0 when unknown.
uint64_t DirectoryTime(const char* dir) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!fsys::Attributes(dir, &a)) return 0;
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
    char local[fsp::kMaxLocalPath];
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
        // A directory too large to enumerate now is finished off this
        // thread, and its client answered at its resend: no other client
        // waits for it. A listing so made serves that resend even when the
        // directory changed meanwhile, so that a busy directory is listed
        // too; the next request lists it anew.
        fsp::EntryList entries;
        uint64_t dirTime = 0;
        int taken = listingJobs.Take(local, now, &entries, &dirTime);
        if (taken < 0) {
            ErrorMsgf("Directory %s does not exist!", shown);
            return;
        }
        if (taken > 0) {
            kept = listingCache.Store(local, std::move(entries), now, dirTime);
        } else if (listingJobs.Running(local)) {
            return;
        } else {
            dirTime = SettledDirectoryTime(local);
            int listed = listingJobs.Enumerate(local, dirTime, now, &entries);
            if (listed < 0) {
                ErrorMsgf("Directory %s does not exist!", shown, GetLastError());
                return;
            }
            if (listed == 0) return;
            kept = listingCache.Store(local, std::move(entries), now, dirTime);
        }
    }
    const fsp::Layout* layout = listingCache.LayoutFor(kept, fsp::RequestBlockSize(*this, ReplyLimit()));
    unsigned char block[fsp::kMaxReplyPayload];
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
