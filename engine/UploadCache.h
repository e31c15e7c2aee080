// Uploads in progress: one temporary file per client port and address,
// from the first piece until the install. Anyone may send a piece, so
// everything here is bounded: the number of open uploads per client
// address and in all, their idle time, how far a piece may reach past what
// is there and how large an upload may grow. The temporary files live in
// a folder of the server's own (fsp::kUploadFolder below the working
// directory), named by the server and created afresh, never reused.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "core/ClientTable.h"

class UploadCache {
public:
    static constexpr size_t kMaxPerAddress = 16;
    static constexpr size_t kMaxUploads = 1024;
    static constexpr uint64_t kIdleMs = 120000;
    // A piece may start at most this far past the end of what came before:
    // a hole is what lets one datagram cost a gigabyte of disk.
    static constexpr uint32_t kMaxAhead = 1u << 20;
    static constexpr uint32_t kMaxSize = 0x7FFFFFFFu;

    UploadCache();
    ~UploadCache();
    UploadCache(const UploadCache&) = delete;
    UploadCache& operator=(const UploadCache&) = delete;

    // Makes the upload folder below the working directory and empties it
    // of whatever an earlier run left there. Done once; 0 when the folder
    // cannot be made (every piece then fails).
    int Start();

    // Writes a piece at its position; a piece at position 0 starts the
    // client's upload afresh. 0 when refused or not written: the upload is
    // then as it was.
    int Upload(const unsigned char* client, uint32_t position, const unsigned char* data,
               int length, uint64_t now);
    // Moves the client's upload to target, stamped with unixTime when
    // given. The upload ends either way; 0 when nothing was installed.
    int Install(const unsigned char* client, const char* target, const uint32_t* unixTime,
                uint64_t now);
    // Ends the client's upload without install; 0 when there was none.
    int Discard(const unsigned char* client);
    // Forgets uploads idle for kIdleMs, with their files.
    void Expire(uint64_t now);

    size_t Count() const { return table.Count(); }
    const char* Folder() const { return folder; }
    // The temporary file of the client's upload, or null.
    const char* FileOf(const unsigned char* client, uint64_t now);

private:
    struct Entry {
        char fileName[MAX_PATH] = {};
        uint32_t size = 0; // the end of the data written so far
    };
    static void Delete(Entry& e);
    int NewFile(Entry* e);

    fsp::ClientTable<Entry> table;
    char folder[MAX_PATH] = {};
    int started = 0;
    unsigned long nextId = 0;
};
