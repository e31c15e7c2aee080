#include "EventLog.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "../engine/core/LogText.h"

namespace {
// The C runtime's ctime text without its newline: exactly 24 characters.
void Stamp(char* out) {
    time_t now = time(nullptr);
    const char* text = ctime(&now);
    if (!text) text = "Thu Jan 01 00:00:00 1970";
    std::memcpy(out, text, fsp::kStampLength);
    out[fsp::kStampLength] = '\0';
}
} // namespace

EventLog::EventLog() : hFile(INVALID_HANDLE_VALUE), hMutex(nullptr) { fileName[0] = '\0'; }

EventLog::~EventLog() { StopLogFile(); }

int EventLog::StartLogFile(const char* path) {
    StopLogFile();
    // A path that does not fit is refused rather than cut: a cut path
    // would name some other file.
    size_t n = std::strlen(path);
    if (n >= sizeof(fileName)) {
        lastError = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    std::memcpy(fileName, path, n + 1);
    hMutex = CreateMutexA(nullptr, FALSE, nullptr);
    if (!hMutex) {
        lastError = GetLastError();
        return 0;
    }
    hFile = Open();
    if (hFile == INVALID_HANDLE_VALUE) {
        lastError = GetLastError();
        CloseHandle(hMutex);
        hMutex = nullptr;
        return 0;
    }
    LARGE_INTEGER end = {};
    SetFilePointerEx(hFile, end, &end, FILE_END);
    size = static_cast<unsigned long long>(end.QuadPart);
    rollAt = rollSize;
    return 1;
}

HANDLE EventLog::Open() const {
    return CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// With the mutex held.
void EventLog::RollOver() {
    char older[MAX_PATH + 2];
    std::snprintf(older, sizeof(older), "%s.1", fileName);
    CloseHandle(hFile);
    // A name with no room for ".1", or an older file held open by another
    // program, keeps the log where it is: appended to, not lost. It is
    // tried again once another tenth of the limit is written.
    BOOL moved = std::strlen(older) < MAX_PATH && MoveFileExA(fileName, older, MOVEFILE_REPLACE_EXISTING);
    hFile = Open();
    if (hFile == INVALID_HANDLE_VALUE) return; // closed: later lines are skipped
    if (moved) {
        size = 0;
        rollAt = rollSize;
    } else {
        LARGE_INTEGER end = {};
        SetFilePointerEx(hFile, end, &end, FILE_END);
        size = static_cast<unsigned long long>(end.QuadPart);
        rollAt = size + rollSize / 10;
    }
}

void EventLog::FlushLogFile() {
    if (!IsOpen()) return;
    char name[MAX_PATH];
    std::memcpy(name, fileName, sizeof(name));
    StopLogFile();
    StartLogFile(name);
}

void EventLog::StopLogFile() {
    // The file may be closed already: a failed reopen after a rollover.
    if (!hMutex) return;
    WaitForSingleObject(hMutex, INFINITE); // a line being written ends first
    if (IsOpen()) CloseHandle(hFile);
    CloseHandle(hMutex);
    hFile = INVALID_HANDLE_VALUE;
    hMutex = nullptr;
}

void EventLog::Log(const sockaddr* address, const char* text, int lookup) {
    if (!IsOpen()) return;
    char stamp[fsp::kStampLength + 1];
    Stamp(stamp);
    const in_addr& in = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    const char* host = nullptr;
    if (lookup) {
        hostent* h = gethostbyaddr(reinterpret_cast<const char*>(&in), 4, AF_INET);
        if (h && h->h_name) host = h->h_name;
    }
    if (!host) host = inet_ntoa(in);
    char line[fsp::kAddressLineSize];
    size_t n = fsp::FormatLogLine(line, sizeof(line), stamp, host ? host : "", text);
    Write(line, n);
}

void EventLog::Log(const char* text) {
    if (!IsOpen()) return;
    char stamp[fsp::kStampLength + 1];
    Stamp(stamp);
    char line[fsp::kPlainLineSize];
    size_t n = fsp::FormatLogLine(line, sizeof(line), stamp, nullptr, text);
    Write(line, n);
}

void EventLog::LogAsIs(std::string text) {
    if (!IsOpen()) return;
    if (text.find('\r') == std::string::npos) text += "\r\n";
    Write(text.data(), text.size());
}

void EventLog::Write(const char* line, size_t length) {
    if (WaitForSingleObject(hMutex, INFINITE) == WAIT_FAILED)
        MessageBoxA(nullptr, "Mutex Error", "Error", MB_OK);
    DWORD written = 0;
    WriteFile(hFile, line, DWORD(length), &written, nullptr);
    size += written;
    if (size > rollAt) RollOver();
    ReleaseMutex(hMutex);
}
