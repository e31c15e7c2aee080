// Uploads in progress: one temporary file per client port and address,
// from the first piece until the install. Anyone may send a piece, so
// everything here is bounded: the number of open uploads per client
// address and in all, their idle time, the disk they may take, and the
// files and threads they hold. An upload grows from its end only: a piece
// lands at or below the end written so far, so no upload has a hole and a
// byte sent never costs more than a byte of disk. The temporary files live
// in a folder of the server's own (fsp::kUploadFolder below the working
// directory), named by the server and created afresh, never reused.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "OpenFiles.h"
#include "VolumeCopy.h"
#include "core/ClientTable.h"
#include "core/Paths.h"

class UploadCache {
public:
    static constexpr size_t kMaxPerAddress = 16;
    static constexpr size_t kMaxUploads = 1024;
    static constexpr uint64_t kIdleMs = 120000;
    static constexpr uint32_t kMaxSize = 0x7FFFFFFFu;
    // Unfinished uploads, and copies of installs across volumes, leave
    // their volume this much free, or a twentieth of it when that is less.
    static constexpr uint64_t kReserveBytes = 1ull << 30;
    static constexpr uint64_t kReserveDivisor = 20;
    // How long a reading of the upload folder's free space is used, with
    // the bytes written since counted off it.
    static constexpr uint64_t kSpaceCheckMs = 1000;
    // Installs copied across volumes at once, a thread each, and at most
    // one of them for one client address.
    static constexpr size_t kMaxCopies = 2;
    // How long the outcome of a finished copy is kept for its client's
    // resend, and how many such outcomes are kept.
    static constexpr uint64_t kOutcomeMs = 60000;
    static constexpr size_t kMaxOutcomes = 1024;
    // How long the cache, when it goes, lets copies given up clean up.
    static constexpr DWORD kCopyDrainMs = 3000;

    enum class Installed { No, Yes, Copying };

    UploadCache();
    ~UploadCache();
    UploadCache(const UploadCache&) = delete;
    UploadCache& operator=(const UploadCache&) = delete;

    // Makes the upload folder below the working directory and empties it
    // of whatever an earlier run left there, with any hidden copy it was
    // making below root (a served root; none when null). Done once; 0 when
    // the folder cannot be made (every piece then fails).
    int Start(const char* root = nullptr);

    // Writes a piece at its position: at 0 it starts the client's upload
    // afresh (and gives up the client's install still copying, if any);
    // above 0 it must lie within or at the end of what the client has
    // written so far. 0 when refused (nothing written) or when the write
    // failed (the upload holds what was acknowledged before, or nothing
    // when the piece was a first one).
    int Upload(const unsigned char* client, uint32_t position, const unsigned char* data,
               int length, uint64_t now);
    // Puts the client's upload at target, stamped with unixTime when given,
    // replacing a file there only when replace, never a directory. Yes or
    // No: the upload has ended. Copying: target lies on another volume and
    // the upload is being copied there (or waits for a copying thread); the
    // client's next Install, its resend, gives the outcome once the copy
    // has ended. Never waits for a copy.
    Installed Install(const unsigned char* client, const char* target, const uint32_t* unixTime,
                      int replace, uint64_t now);
    // Whether bytes more fit into the folder of path (the part before its
    // last backslash) and leave the reserve free on its volume: the rule
    // for everything a client may make there.
    static bool RoomFor(const char* path, uint64_t bytes);
    // Whether the client has a copy running: its installs wait for it.
    bool Copying(const unsigned char* client) const;
    // The entry with identity id (fsys::Identity) was changed: copies to
    // targets at or below it are given up.
    void PathChanged(const std::string& id);
    // The entry with identity from was renamed to local path to (identity
    // toId): hidden copies below it are found there now, and given up.
    void Moved(const std::string& from, const std::string& toId, const char* to);
    // Ends the client's upload without install; 0 when there was none.
    int Discard(const unsigned char* client);
    // Puts copies that have ended in place (each target first handed to
    // tell with placed false, and once placed again with true), forgets
    // their outcomes after kOutcomeMs, forgets uploads idle for kIdleMs
    // with their files, and closes files unused for OpenFiles::kIdleMs.
    void Expire(uint64_t now, const std::function<void(const char* target, bool placed)>& tell = nullptr);

    size_t Count() const { return table.Count(); }
    // Copies running.
    size_t Copies() const;
    const char* Folder() const { return folder; }
    // The temporary file of the client's upload, or null.
    const char* FileOf(const unsigned char* client, uint64_t now);

private:
    struct Entry {
        char fileName[fsp::kMaxPath] = {};
        uint32_t size = 0; // the end of the data written so far
    };
    struct Copy {
        std::string target, targetId, hiddenId;
        int replace = 0;
        int outcome = -1; // -1 while running; then 1 when placed, 0 when not
        uint64_t endedAt = 0;
        VolumeCopy copy;
    };
    static uint64_t Key(const unsigned char* client);
    void Delete(Entry& e);
    auto Gone() {
        return [this](Entry& e) { Delete(e); };
    }
    int NewFile(Entry* e);
    // Whether bytes more may be written to the upload folder's volume.
    bool Room(uint64_t bytes, uint64_t now);

    fsp::ClientTable<Entry> table;
    std::unordered_map<uint64_t, std::unique_ptr<Copy>> copies; // by client
    std::string rootId; // of the root whose leftover copies Start removes
    OpenFiles open; // the upload files being written
    char folder[fsp::kMaxPath] = {};
    int started = 0;
    unsigned long nextId = 0;
    uint64_t freeBytes = 0, reserve = 0, spaceReadAt = 0;
    bool spaceRead = false;
};
