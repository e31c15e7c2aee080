#include "VolumeCopy.h"

#include "FileSystem.h"

#include <ntsecapi.h>
#include <process.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {
constexpr size_t kDigits = 16;
constexpr DWORD kChunk = 1u << 20;

// Whether name (a path's last component) is prefix, 16 hexadecimal digits
// and suffix; the digits go to digits.
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
} // namespace

VolumeCopy::~VolumeCopy() {
    Stop();
    from.Close();
    to.Close();
    if (hidden[0]) fsys::Delete(hidden);
    // The record goes only once its hidden file has gone: a run killed in
    // between still finds it.
    if (record[0]) fsys::Delete(record);
    if (source[0]) fsys::Delete(source);
}

void VolumeCopy::Stop() {
    if (!thread) return;
    cancel = true;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = nullptr;
}

int VolumeCopy::Start(const char* sourcePath, const char* targetPath, const char* recordFolder,
                      const FILETIME* writeTime) {
    const char* slash = std::strrchr(targetPath, '\\');
    const int folder = slash ? int(slash - targetPath + 1) : 0;
    if (std::strlen(sourcePath) >= sizeof(source) || std::strlen(targetPath) >= sizeof(target)) return 0;
    // Names no client can guess, and never one that is there already: the
    // copy writes only into a file it made itself.
    for (int attempt = 0; attempt < 8 && !hidden[0]; ++attempt) {
        unsigned char random[kDigits / 2];
        if (!RtlGenRandom(random, sizeof(random))) return 0;
        char digits[kDigits + 1];
        for (size_t i = 0; i < sizeof(random); ++i) std::snprintf(digits + 2 * i, 3, "%02X", random[i]);
        char name[fsp::kMaxLocalPath];
        if (std::snprintf(name, sizeof(name), "%.*s%s%s%s", folder, targetPath, fsp::kHiddenCopyPrefix,
                          digits, fsp::kHiddenCopySuffix) >= int(sizeof(name)) ||
            std::snprintf(record, sizeof(record), "%s\\%s%s", recordFolder, digits, kRecordSuffix) >=
                int(sizeof(record))) {
            record[0] = '\0';
            return 0;
        }
        FileHandle r(fsys::Open(record, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
        DWORD n = DWORD(std::strlen(name));
        if (!r.Ok()) {
            record[0] = '\0';
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            return 0;
        }
        bool written = fsys::Write(r.Get(), name, n);
        r.Close();
        if (written) {
            to = FileHandle(fsys::Open(name, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
            if (to.Ok()) {
                std::memcpy(hidden, name, std::strlen(name) + 1);
                break;
            }
        }
        DWORD error = GetLastError();
        fsys::Delete(record);
        record[0] = '\0';
        if (!written || error != ERROR_FILE_EXISTS) return 0;
    }
    if (!hidden[0]) return 0;
    from = FileHandle(fsys::Open(sourcePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN));
    if (!from.Ok()) return 0;
    std::memcpy(target, targetPath, std::strlen(targetPath) + 1);
    stamped = writeTime != nullptr;
    if (stamped) time = *writeTime;
    thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0, nullptr));
    if (!thread) return 0;
    std::memcpy(source, sourcePath, std::strlen(sourcePath) + 1);
    return 1;
}

unsigned __stdcall VolumeCopy::Run(void* self) {
    VolumeCopy& c = *static_cast<VolumeCopy*>(self);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kChunk]);
    bool ok = buffer != nullptr;
    while (ok && !c.cancel) {
        DWORD got = 0;
        if (!fsys::Read(c.from.Get(), buffer.get(), kChunk, &got)) ok = false;
        else if (got == 0) break;
        else if (!fsys::Write(c.to.Get(), buffer.get(), got)) ok = false;
    }
    if (c.cancel) ok = false;
    if (ok && c.stamped) ok = fsys::SetWriteTime(c.to.Get(), c.time);
    c.from.Close();
    c.to.Close();
    c.copied = ok;
    return 0;
}

bool VolumeCopy::Ended(DWORD waitMs) {
    return thread && WaitForSingleObject(thread, waitMs) == WAIT_OBJECT_0;
}

int VolumeCopy::Finish(int replace) {
    Stop();
    int placed = 0;
    if (copied && hidden[0]) {
        DWORD attributes = fsys::AttributeBits(target);
        bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        if (!directory && fsys::Move(hidden, target, replace != 0)) {
            hidden[0] = '\0';
            placed = 1;
        }
    }
    if (hidden[0]) fsys::Delete(hidden);
    hidden[0] = '\0';
    if (record[0]) fsys::Delete(record);
    record[0] = '\0';
    if (source[0]) fsys::Delete(source);
    source[0] = '\0';
    return placed;
}

void VolumeCopy::RemoveLeftover(const char* recordPath) {
    const char* slash = std::strrchr(recordPath, '\\');
    const char* recordName = slash ? slash + 1 : recordPath;
    const size_t suffix = sizeof(kRecordSuffix) - 1;
    if (std::strlen(recordName) != kDigits + suffix) return;
    FileHandle r(fsys::Open(recordPath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
    char named[fsp::kMaxLocalPath];
    DWORD got = 0;
    if (!r.Ok() || !fsys::Read(r.Get(), named, sizeof(named) - 1, &got)) return;
    named[got] = '\0';
    const char* last = std::strrchr(named, '\\');
    char digits[kDigits + 1];
    if (last && HiddenName(last + 1, digits) && _strnicmp(digits, recordName, kDigits) == 0)
        fsys::Delete(named);
}
