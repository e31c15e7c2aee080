// Directories too large to enumerate between two requests: what the
// window's thread began within its budget is finished on a thread of its
// own, while every other client is served, and the client that asked is
// answered at its resend. The window's thread never waits for a job.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "FileSystem.h"
#include "core/Listing.h"

class ListingJobs {
public:
    // What the window's thread enumerates of one directory before it
    // hands the rest on; jobs running at once; how long a finished one
    // waits for the resend of the client that asked.
    static constexpr DWORD kInlineMs = 5;
    static constexpr size_t kMaxJobs = 2;
    static constexpr uint64_t kKeptMs = 5000;

    ListingJobs() = default;
    // Stops the jobs (each ends at its next entry) and lets them end.
    ~ListingJobs();
    ListingJobs(const ListingJobs&) = delete;
    ListingJobs& operator=(const ListingJobs&) = delete;

    // Enumerates dir into entries: the whole of it within kInlineMs, 1;
    // otherwise the rest goes on off this thread (or waits for a free
    // one), 0; -1 when dir cannot be enumerated. dirTime goes with the
    // job for its listing. A directory found large once is enumerated off
    // this thread from its start: opening an enumeration may read the
    // whole directory at once.
    int Enumerate(const std::string& dir, uint64_t dirTime, uint64_t now, fsp::EntryList* entries);
    // Takes the finished job of dir: 1 with its entries, the directory's
    // time it was begun at; -1 when the directory could not be enumerated;
    // 0 when there is none finished (see Running).
    int Take(const std::string& dir, uint64_t now, fsp::EntryList* entries, uint64_t* dirTime);
    bool Running(const std::string& dir);

private:
    struct Job {
        std::string dir;
        uint64_t dirTime = 0;
        std::unique_ptr<fsys::Finder> finder;
        fsp::EntryList entries;
        uint64_t endedAt = 0; // written before ended
        std::atomic<bool> ended{false};
        bool joined = false;
        bool failed = false; // the enumeration could not be opened
        std::thread thread;
    };
    static bool Next(fsys::Finder& finder, fsp::EntryList* entries);
    int Hand(const std::string& dir, uint64_t dirTime, std::unique_ptr<fsys::Finder> finder,
             fsp::EntryList* entries);
    void Reap(uint64_t now);

    std::list<std::unique_ptr<Job>> jobs;
    // Directories found too large to enumerate inline, the most recent last.
    static constexpr size_t kLargeKept = 1024;
    std::list<std::string> large;
    std::atomic<bool> stop{false};
};
