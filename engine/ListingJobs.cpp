#include "ListingJobs.h"

ListingJobs::~ListingJobs() {
    stop = true;
    for (auto& j : jobs)
        if (j->thread.joinable()) j->thread.join();
}

bool ListingJobs::Next(fsys::Finder& finder, fsp::EntryList* entries) {
    fsys::Found f;
    if (!finder.Next(&f)) return false;
    fsp::DirEntry e;
    e.isDir = (f.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.unixTime = fsp::FileTimeToUnixTime(f.writeTime.dwLowDateTime, f.writeTime.dwHighDateTime);
    // A size of 4 GiB or more does not fit: shown as the largest.
    e.size = f.size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(f.size);
    e.name = f.name;
    entries->Add(e);
    return true;
}

void ListingJobs::Reap(uint64_t now) {
    for (auto it = jobs.begin(); it != jobs.end();) {
        Job& j = **it;
        if (j.ended && !j.joined) {
            j.thread.join(); // it has returned, or is about to
            j.joined = true;
        }
        if (j.joined && now - j.endedAt >= kKeptMs && now >= j.endedAt) it = jobs.erase(it);
        else ++it;
    }
}

int ListingJobs::Enumerate(const std::string& dir, uint64_t dirTime, uint64_t now, fsp::EntryList* entries) {
    Reap(now);
    for (const std::string& d : large)
        if (d == dir) return Hand(dir, dirTime, nullptr, entries);
    auto finder = std::make_unique<fsys::Finder>();
    if (!finder->Start(dir.c_str())) return -1;
    const DWORD start = GetTickCount();
    for (unsigned n = 1;; ++n) {
        if (!Next(*finder, entries)) return 1;
        if (n % 64 == 0 && GetTickCount() - start >= kInlineMs) break;
    }
    large.push_back(dir);
    if (large.size() > kLargeKept) large.pop_front();
    return Hand(dir, dirTime, std::move(finder), entries);
}

int ListingJobs::Hand(const std::string& dir, uint64_t dirTime, std::unique_ptr<fsys::Finder> finder,
                      fsp::EntryList* entries) {
    size_t running = 0;
    for (auto& j : jobs) running += !j->ended;
    // With every job busy, the client asks again later.
    if (running >= kMaxJobs) return 0;
    auto job = std::make_unique<Job>();
    Job* j = job.get();
    j->dir = dir;
    j->dirTime = dirTime;
    j->finder = std::move(finder);
    j->entries = std::move(*entries);
    j->thread = std::thread([this, j] {
        if (!j->finder) {
            j->finder = std::make_unique<fsys::Finder>();
            j->failed = !j->finder->Start(j->dir.c_str());
        }
        // A job gives way often: the window's thread, which serves every
        // other client, must not wait for a core.
        for (unsigned n = 1; !j->failed && !stop && Next(*j->finder, &j->entries); ++n)
            if (n % 256 == 0) Sleep(1);
        j->finder.reset();
        j->endedAt = GetTickCount64();
        j->ended = true;
    });
    jobs.push_back(std::move(job));
    return 0;
}

int ListingJobs::Take(const std::string& dir, uint64_t now, fsp::EntryList* entries, uint64_t* dirTime) {
    Reap(now);
    for (auto it = jobs.begin(); it != jobs.end(); ++it) {
        Job& j = **it;
        if (j.dir != dir || !j.ended) continue;
        if (j.failed) {
            jobs.erase(it);
            return -1;
        }
        *entries = std::move(j.entries);
        *dirTime = j.dirTime;
        jobs.erase(it);
        return 1;
    }
    return 0;
}

bool ListingJobs::Running(const std::string& dir) {
    for (auto& j : jobs)
        if (j->dir == dir && !j->ended) return true;
    return false;
}
