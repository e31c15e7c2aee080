// The one owner of a file handle in the server: closed when the owner goes,
// never copied, handed on by moving.
#pragma once

#include <windows.h>

class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(HANDLE handle) : h(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(FileHandle&& other) noexcept : h(other.h) { other.h = INVALID_HANDLE_VALUE; }
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            Close();
            h = other.h;
            other.h = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool Ok() const { return h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return h; }
    void Close() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h = INVALID_HANDLE_VALUE;
};
