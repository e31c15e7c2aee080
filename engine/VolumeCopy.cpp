#include "VolumeCopy.h"

#include "FileSystem.h"

#include <ntsecapi.h>
#include <process.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace {
constexpr size_t kDigits = 16;
constexpr DWORD kChunk = 1u << 20;
std::atomic<int> running{0};

// Whether name (a path's last component) is prefix, 16 hexadecimal digits
// and suffix, exactly as this class makes it; the digits go to digits.
bool HiddenName(const char* name, char* digits) {
    const size_t prefix = sizeof(fsp::kHiddenCopyPrefix) - 1, suffix = sizeof(fsp::kHiddenCopySuffix) - 1;
    if (std::strlen(name) != prefix + kDigits + suffix ||
        std::strncmp(name, fsp::kHiddenCopyPrefix, prefix) != 0 ||
        std::strcmp(name + prefix + kDigits, fsp::kHiddenCopySuffix) != 0)
        return false;
    for (size_t i = 0; i < kDigits; ++i) {
        char c = name[prefix + i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
        digits[i] = c;
    }
    digits[kDigits] = '\0';
    return true;
}

// Whether path is absolute ("X:\..." or "\\server\...") and holds no "."
// or ".." name.
bool PlainAbsolute(const char* path) {
    const bool drive = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && path[2] == '\\';
    if (!drive && std::strncmp(path, "\\\\", 2) != 0) return false;
    for (const char* at = path + (drive ? 3 : 2); *at;) {
        const char* end = std::strchr(at, '\\');
        size_t n = end ? size_t(end - at) : std::strlen(at);
        if (n == 0 || (n == 1 && at[0] == '.') || (n == 2 && at[0] == '.' && at[1] == '.')) return false;
        at += n + (end ? 1 : 0);
    }
    return true;
}

// Writes the record naming hidden: 1 when written, 0 when the record could
// not be opened (nothing made), -1 when it was made but not written.
int WriteRecord(const std::string& record, const std::string& hidden, DWORD disposition) {
    FileHandle r(fsys::Open(record.c_str(), GENERIC_WRITE, 0, disposition, FILE_ATTRIBUTE_NORMAL));
    if (!r.Ok()) return 0;
    return fsys::Write(r.Get(), hidden.data(), DWORD(hidden.size())) ? 1 : -1;
}
} // namespace

// What the copy's thread and its owner share; the last of them to let go
// frees it. lock guards hidden, abandoned and cleaned.
struct VolumeCopy::Job {
    std::mutex lock;
    std::string source, hidden, record;
    FileHandle from, to;
    FILETIME time = {};
    bool stamped = false;
    std::atomic<bool> cancel{false}, ended{false};
    bool copied = false;    // the thread's result, read once ended
    bool abandoned = false; // given up while running: the thread cleans up
    bool cleaned = false;
};

int VolumeCopy::Start(const char* sourcePath, const char* targetPath, const char* recordFolder,
                      const FILETIME* writeTime) {
    const char* slash = std::strrchr(targetPath, '\\');
    const int folder = slash ? int(slash - targetPath + 1) : 0;
    if (std::strlen(targetPath) >= sizeof(target)) return 0;
    auto j = std::make_shared<Job>();
    // Names no client can guess, and never one that is there already: the
    // copy writes only into a file it made itself.
    for (int attempt = 0; attempt < 8 && j->hidden.empty(); ++attempt) {
        unsigned char random[kDigits / 2];
        if (!RtlGenRandom(random, sizeof(random))) return 0;
        char digits[kDigits + 1];
        for (size_t i = 0; i < sizeof(random); ++i) std::snprintf(digits + 2 * i, 3, "%02X", random[i]);
        char name[fsp::kMaxLocalPath], record[fsp::kMaxPath];
        if (std::snprintf(name, sizeof(name), "%.*s%s%s%s", folder, targetPath, fsp::kHiddenCopyPrefix,
                          digits, fsp::kHiddenCopySuffix) >= int(sizeof(name)) ||
            std::snprintf(record, sizeof(record), "%s\\%s%s", recordFolder, digits, kRecordSuffix) >=
                int(sizeof(record)))
            return 0;
        int written = WriteRecord(record, name, CREATE_NEW);
        if (written <= 0) {
            DWORD error = GetLastError();
            if (written < 0) fsys::Delete(record);
            if (written == 0 && error == ERROR_FILE_EXISTS) continue;
            return 0;
        }
        j->to = FileHandle(fsys::Open(name, GENERIC_WRITE | DELETE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
        DWORD error = GetLastError();
        if (!j->to.Ok()) {
            fsys::Delete(record);
            if (error == ERROR_FILE_EXISTS) continue;
            return 0;
        }
        j->hidden = name;
        j->record = record;
    }
    if (j->hidden.empty()) return 0;
    j->from = FileHandle(fsys::Open(sourcePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    j->stamped = writeTime != nullptr;
    if (j->stamped) j->time = *writeTime;
    // The thread holds the job as long as it runs.
    auto* held = new (std::nothrow) std::shared_ptr<Job>(j);
    HANDLE thread = nullptr;
    if (j->from.Ok() && held) {
        ++running;
        thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, held, 0, nullptr));
        if (!thread) --running;
    }
    if (!thread) {
        delete held;
        CleanUp(*j); // the upload stays the caller's
        return 0;
    }
    CloseHandle(thread); // never waited for
    j->source = sourcePath;
    std::memcpy(target, targetPath, std::strlen(targetPath) + 1);
    job = std::move(j);
    return 1;
}

unsigned __stdcall VolumeCopy::Run(void* held) {
    std::shared_ptr<Job> job = std::move(*static_cast<std::shared_ptr<Job>*>(held));
    delete static_cast<std::shared_ptr<Job>*>(held);
    Job& j = *job;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kChunk]);
    bool ok = buffer != nullptr;
    while (ok && !j.cancel) {
        DWORD got = 0;
        if (!fsys::Read(j.from.Get(), buffer.get(), kChunk, &got)) ok = false;
        else if (got == 0) break;
        else if (!fsys::Write(j.to.Get(), buffer.get(), got)) ok = false;
    }
    if (j.cancel) ok = false;
    if (ok && j.stamped) ok = fsys::SetWriteTime(j.to.Get(), j.time);
    j.from.Close();
    {
        std::lock_guard<std::mutex> hold(j.lock);
        j.copied = ok;
        j.ended = true;
        if (j.abandoned) CleanUp(j);
    }
    --running;
    return 0;
}

void VolumeCopy::CleanUp(Job& j) {
    if (j.cleaned) return;
    j.cleaned = true;
    j.from.Close();
    // Through the handle first: wherever the file is now, it goes with
    // its handle. Then by the name it has now, for file systems that
    // remove it by the name it was opened under.
    if (j.to.Ok()) fsys::DeleteOpen(j.to.Get());
    j.to.Close();
    bool gone = j.hidden.empty() || fsys::Delete(j.hidden.c_str());
    if (!gone) {
        DWORD error = GetLastError();
        gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // The record goes only once the hidden file has: a run killed before
    // then still finds it.
    if (gone && !j.record.empty()) fsys::Delete(j.record.c_str());
    if (!j.source.empty()) fsys::Delete(j.source.c_str());
}

bool VolumeCopy::Ended() const { return job && job->ended; }

int VolumeCopy::Finish(int replace) {
    if (!Ended()) return 0;
    // The job outlives the lock held on it, whoever lets go of it last.
    std::shared_ptr<Job> kept = std::move(job);
    std::lock_guard<std::mutex> hold(kept->lock);
    Job& j = *kept;
    DWORD attributes = fsys::AttributeBits(target);
    bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    int placed = 0;
    if (j.copied && !directory && fsys::RenameOpen(j.to.Get(), target, replace != 0)) {
        placed = 1;
        j.cleaned = true;
        j.to.Close();
        fsys::Delete(j.record.c_str());
        fsys::Delete(j.source.c_str());
    }
    CleanUp(j);
    return placed;
}

void VolumeCopy::Cancel() {
    if (!job) return;
    job->cancel = true;
    {
        std::lock_guard<std::mutex> hold(job->lock);
        if (job->ended) CleanUp(*job);
        else job->abandoned = true;
    }
    job.reset();
}

void VolumeCopy::Moved(const std::string& hidden) {
    if (!job) return;
    std::lock_guard<std::mutex> hold(job->lock);
    if (job->cleaned) return;
    job->hidden = hidden;
    WriteRecord(job->record, hidden, CREATE_ALWAYS);
}

std::string VolumeCopy::Hidden() const {
    if (!job) return std::string();
    std::lock_guard<std::mutex> hold(job->lock);
    return job->hidden;
}

int VolumeCopy::Running() { return running; }

void VolumeCopy::RemoveLeftover(const char* recordPath, const std::string& root) {
    const char* slash = std::strrchr(recordPath, '\\');
    const char* recordName = slash ? slash + 1 : recordPath;
    const size_t suffix = sizeof(kRecordSuffix) - 1;
    if (root.empty() || std::strlen(recordName) != kDigits + suffix) return;
    FileHandle r(fsys::Open(recordPath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
    char named[fsp::kMaxLocalPath];
    DWORD got = 0;
    if (!r.Ok() || !fsys::Read(r.Get(), named, sizeof(named) - 1, &got)) return;
    named[got] = '\0';
    const char* last = std::strrchr(named, '\\');
    char digits[kDigits + 1];
    if (!last || !HiddenName(last + 1, digits) || std::strncmp(digits, recordName, kDigits) != 0 ||
        !PlainAbsolute(named))
        return;
    const std::string id = fsys::Identity(named);
    if (id.empty() || id == root || !fsys::AtOrBelow(id, root)) return;
    // A plain file, reached by no link on the way: what is opened is what
    // the record names.
    FileHandle h(fsys::Open(named, DELETE | FILE_READ_ATTRIBUTES, 0, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT));
    BY_HANDLE_FILE_INFORMATION info;
    char final[fsp::kMaxLocalPath * 2];
    if (!h.Ok() || !fsys::Information(h.Get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        info.nNumberOfLinks != 1 || !fsys::FinalPath(h.Get(), final, sizeof(final)) ||
        fsys::Identity(final) != id)
        return;
    fsys::DeleteOpen(h.Get());
}
