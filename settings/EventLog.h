// The activity log: a plain-text file, appended to, one time-stamped line
// per event. While closed, every write is skipped without a word.
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

    char fileName[MAX_PATH];
    HANDLE hFile;
    HANDLE hMutex;

private:
    void Write(const char* line, size_t length);
};
