// An install whose target lies on another volume than the upload: the
// upload is copied, on a thread of its own so that the window's thread goes
// on serving, to a hidden name beside the target (fsp::kHiddenCopyPrefix,
// 16 random hexadecimal digits, fsp::kHiddenCopySuffix) and renamed onto
// the target once whole. A record in the upload folder names the hidden
// file while it exists, so that what a killed run left is removed at the
// next start, and nothing else.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "FileHandle.h"
#include "core/Paths.h"

class VolumeCopy {
public:
    // How a record's name ends.
    static constexpr char kRecordSuffix[] = ".CPY";

    VolumeCopy() = default;
    // Stops a copy still running and waits for its thread; removes the
    // hidden file, the record and the upload.
    ~VolumeCopy();
    VolumeCopy(const VolumeCopy&) = delete;
    VolumeCopy& operator=(const VolumeCopy&) = delete;

    // Starts copying the upload at source (which this copy then owns) to a
    // new hidden file in target's folder, recorded in recordFolder and
    // stamped with writeTime when given. 0 when it cannot start; source is
    // then left to the caller.
    int Start(const char* source, const char* target, const char* recordFolder,
              const FILETIME* writeTime);
    // Whether the copy has ended, waiting up to waitMs for it.
    bool Ended(DWORD waitMs);
    // Once ended, gives the copy the target's name, replacing a file there
    // only when replace, never a directory. 1 when the file is in place;
    // either way nothing of the copy is left but the installed file.
    int Finish(int replace);
    const char* Target() const { return target; }

    // Removes the hidden file a record names, when the name is one this
    // class makes and carries the record's own digits. The record stays.
    static void RemoveLeftover(const char* recordPath);

private:
    static unsigned __stdcall Run(void* self);
    void Stop();

    char source[fsp::kMaxPath] = {};
    char target[fsp::kMaxLocalPath] = {};
    char hidden[fsp::kMaxLocalPath] = {}; // set once this copy has created it
    char record[fsp::kMaxPath] = {};
    FileHandle from, to;
    FILETIME time = {};
    bool stamped = false;
    HANDLE thread = nullptr;
    std::atomic<bool> cancel{false};
    bool copied = false; // the thread's result, read once it has ended
};
