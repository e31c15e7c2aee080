// The get-directory command: one block of a directory's listing. The
// layout lives in core/Listing; this side only enumerates the directory.
#include <cstring>

#include "../FSPDaemon.h"
#include "../core/Listing.h"

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

// One block of the listing of the directory at local path dir, for
// block size b, into block. Returns its length, kNotFound or kTooSmall.
int BuildDirectory(const char* dir, unsigned char* block, uint32_t b, uint32_t position) {
    char pattern[fsp::kMaxPath];
    size_t n = std::strlen(dir);
    const char* wildcard = (n > 0 && dir[n - 1] == '\\') ? "*.*" : "\\*.*";
    if (n + std::strlen(wildcard) >= sizeof(pattern)) return kNotFound;
    std::memcpy(pattern, dir, n);
    std::memcpy(pattern + n, wildcard, std::strlen(wildcard) + 1);

    Enumeration en;
    en.find = FindFirstFileA(pattern, &en.data);
    if (en.find == INVALID_HANDLE_VALUE) return kNotFound;
    en.pending = true;
    int length = fsp::BuildBlock(block, b, position, NextFound, &en);
    return length < 0 ? kTooSmall : length;
}
} // namespace

void FSPDaemon::GetDirectory() {
    char shown[fsp::kMaxPayload];
    fsp::RequestPathText(*this, shown, sizeof(shown));
    const char* path = fsp::RequestText(*this);
    char local[fsp::kMaxPath];
    // A request without data, or whose path has no NUL, names no directory.
    if (!path || dataLength == 0 || !fsp::BuildLocalPath(local, rootPath, path)) {
        ErrorMsgf("Directory %s does not exist!", shown);
        return;
    }
    unsigned char block[fsp::kMaxBlock];
    int length = BuildDirectory(local, block, fsp::RequestBlockSize(*this), position);
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
