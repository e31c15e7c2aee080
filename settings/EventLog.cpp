#include "EventLog.h"

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
    if (n >= sizeof(fileName)) return 0;
    std::memcpy(fileName, path, n + 1);
    hMutex = CreateMutexA(nullptr, FALSE, nullptr);
    if (!hMutex) return 0;
    hFile = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        CloseHandle(hMutex);
        hMutex = nullptr;
        return 0;
    }
    SetFilePointer(hFile, 0, nullptr, FILE_END);
    return 1;
}

void EventLog::FlushLogFile() {
    if (!IsOpen()) return;
    char name[MAX_PATH];
    std::memcpy(name, fileName, sizeof(name));
    StopLogFile();
    StartLogFile(name);
}

void EventLog::StopLogFile() {
    if (!IsOpen()) return;
    WaitForSingleObject(hMutex, INFINITE); // a line being written ends first
    CloseHandle(hFile);
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
    ReleaseMutex(hMutex);
}
