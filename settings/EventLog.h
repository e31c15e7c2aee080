// The activity log: a plain-text file, appended to, one time-stamped line
// per event. While closed, every write is skipped without a word. A file
// that passes rollSize is renamed to its name with ".1" appended, replacing
// an older one, and a new file begun, so the log never fills the disk.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

class EventLog {
public:
    EventLog();
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    int StartLogFile(const char* path);
    void FlushLogFile();
    void StopLogFile();
    void Log(const sockaddr* address, const char* text, int lookup);
    void Log(const char* text);
    void LogAsIs(std::string text);

    bool IsOpen() const { return hFile != INVALID_HANDLE_VALUE; }
    // The system's error of the last StartLogFile that failed.
    unsigned long lastError = 0;

    static constexpr unsigned long long kRollSize = 64ull << 20;

    char fileName[MAX_PATH];
    HANDLE hFile;
    HANDLE hMutex;
    unsigned long long rollSize = kRollSize;

private:
    void Write(const char* line, size_t length);
    HANDLE Open() const;
    void RollOver();

    unsigned long long size = 0; // of the open file, as written so far
    unsigned long long rollAt = 0;
};
