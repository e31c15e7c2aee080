// An install whose target lies on another volume than the upload: the
// upload is copied, on a thread of its own so that the window's thread goes
// on serving, to a hidden name beside the target (fsp::kHiddenCopyPrefix,
// 16 random hexadecimal digits, fsp::kHiddenCopySuffix) and renamed onto
// the target once whole. A record in the upload folder names the hidden
// file while it exists, so that what a killed run left is removed at the
// next start, and nothing else.
//
// The window's thread never waits for a copy: it asks whether the copy has
// ended, and a copy given up is told so and left to end on its own; its
// thread then removes the hidden file (through its own handle, and by the
// name it has now when its folder was renamed meanwhile), the upload, and
// last the record.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "FileHandle.h"
#include "core/Paths.h"

class VolumeCopy {
public:
    // How a record's name ends.
    static constexpr char kRecordSuffix[] = ".CPY";

    VolumeCopy() = default;
    // Gives up a copy not finished; never waits for its thread.
    ~VolumeCopy() { Cancel(); }
    VolumeCopy(const VolumeCopy&) = delete;
    VolumeCopy& operator=(const VolumeCopy&) = delete;

    // Starts copying the upload at source (which this copy then owns) to a
    // new hidden file in target's folder, recorded in recordFolder and
    // stamped with writeTime when given. 0 when it cannot start; source is
    // then left to the caller.
    int Start(const char* source, const char* target, const char* recordFolder,
              const FILETIME* writeTime);
    // Whether the copy has ended; never waits.
    bool Ended() const;
    // Once ended, gives the copy the target's name, replacing a file there
    // only when replace, never a directory. 1 when the file is in place;
    // either way nothing of the copy is left but the installed file.
    int Finish(int replace);
    // Gives the copy up: nothing of it is left once its thread has ended.
    void Cancel();
    // The hidden file's folder was renamed: the file is now at hidden.
    void Moved(const std::string& hidden);
    const char* Target() const { return target; }
    // The hidden file's path, as it is now.
    std::string Hidden() const;

    // Removes the hidden file a record names: only a plain file (no link,
    // no reparse point, no directory) below root (an identity) whose name
    // is one this class makes with the record's own digits. The record
    // stays.
    static void RemoveLeftover(const char* recordPath, const std::string& root);
    // Copy threads still running (given up or not).
    static int Running();

private:
    struct Job;
    static unsigned __stdcall Run(void* job);
    // Removes what is left of a copy that did not end in place.
    static void CleanUp(Job& j);

    char target[fsp::kMaxLocalPath] = {};
    std::shared_ptr<Job> job;
};
