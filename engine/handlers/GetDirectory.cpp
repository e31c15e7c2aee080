// The get-directory command: one block of a directory's listing. The
// layout lives in core/Listing; this side only enumerates the directory.
#include <cstring>
#include <vector>

#include "../FSPDaemon.h"
#include "../core/Listing.h"
#include "../core/ListingCache.h"

namespace {
constexpr int kNotFound = -1;
constexpr int kTooSmall = -2;

// A find-first/find-next enumeration, closed on every path.
struct Enumeration {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA data = {};
    bool pending = false; // data holds an entry not yet handed out

    ~Enumeration() {
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
    }
};

int NextFound(void* context, fsp::DirEntry* e) {
    Enumeration* en = static_cast<Enumeration*>(context);
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

// One block of the listing of the directory at local path dir, for
// block size b, into block, enumerating up to that block. Returns its
// length, kNotFound or kTooSmall.
int BuildDirectory(const char* dir, unsigned char* block, uint32_t b, uint32_t position) {
    Enumeration en;
    if (!StartEnumeration(dir, &en)) return kNotFound;
    int length = fsp::BuildBlock(block, b, position, NextFound, &en);
    return length < 0 ? kTooSmall : length;
}

// The whole listing of dir laid out for block size b, from one
// enumeration. Returns 1, kNotFound or kTooSmall.
int LayOutDirectory(const char* dir, uint32_t b, std::vector<unsigned char>* stream) {
    fsp::EntryList entries;
    {
        Enumeration en;
        if (!StartEnumeration(dir, &en)) return kNotFound;
        fsp::DirEntry e;
        while (NextFound(&en, &e)) entries.Add(e);
    }
    return entries.LayOut(b, stream) < 0 ? kTooSmall : 1;
}
} // namespace

void FSPDaemon::GetDirectory() {
    char shown[fsp::kMaxPayload];
    fsp::RequestPathText(*this, shown, sizeof(shown));
    const char* path = fsp::RequestText(*this);
    char local[fsp::kMaxPath];
    // A request without data, or whose path has no NUL, names no directory.
    if (!path || dataLength == 0 || !LocalPath(path, local)) {
        ErrorMsgf("Directory %s does not exist!", shown);
        return;
    }
    unsigned char block[fsp::kMaxBlock];
    uint32_t b = fsp::RequestBlockSize(*this);
    // Port and address: the six bytes that name a client.
    const unsigned char* client = reinterpret_cast<const unsigned char*>(&clientAddr.sin_port);
    int length;
    // A listing is read block by block from position 0: lay it out whole
    // once there and serve the client's following blocks from that, so a
    // listing costs one enumeration, not one per block. Position 0 always
    // looks afresh; a block without a kept listing enumerates up to itself.
    if (position == 0) {
        std::vector<unsigned char> stream;
        length = LayOutDirectory(local, b, &stream);
        if (length == 1) {
            length = fsp::SliceListing(stream, b, 0, block);
            listingCache.Store(client, local, b, std::move(stream));
        }
    } else if (const std::vector<unsigned char>* kept = listingCache.Find(client, local, b)) {
        length = fsp::SliceListing(*kept, b, position, block);
    } else {
        length = BuildDirectory(local, block, b, position);
    }
    if (length == kNotFound) {
        ErrorMsgf("Directory %s does not exist!", shown);
        return;
    }
    if (length == kTooSmall) {
        ErrorMsgf("Directory %s has entries too long for the block size asked for!", shown);
        return;
    }
    Reply(position, block, nullptr, length, 0, 0);
    if (position == 0) LogClient("Get directory listing");
}
