// Uploads in progress: one temporary file per client port and address,
// from the first piece until the install.
#pragma once

#include <winsock2.h>
#include <windows.h>

struct UploadEntry {
    sockaddr address;             // the client, copied whole
    char tempFileName[MAX_PATH];  // as GetTempFileNameA returned it
    UploadEntry* prev;            // newer neighbour, null for the head
    UploadEntry* next;            // older neighbour, null for the last
};

class UploadCache {
public:
    UploadCache() = default;
    ~UploadCache();
    UploadCache(const UploadCache&) = delete;
    UploadCache& operator=(const UploadCache&) = delete;

    UploadEntry* Add(sockaddr* address);
    UploadEntry* Find(sockaddr* address);
    // Unlinks and frees the entry of that client; its file is not touched.
    int Remove(sockaddr* address);
    int Upload(sockaddr* address, long position, unsigned char* data, int length);
    int Install(sockaddr* address, char* target);
    // Ends the client's upload without install: its temporary file goes too.
    int Discard(sockaddr* address);

    UploadEntry* head = nullptr;
};
