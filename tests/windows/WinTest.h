// Helpers shared by the Windows tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Catches the message boxes and dialogs that open on this thread while it
// lives: records caption and text, then ends each with `answer`, so no
// test ever blocks on a box it did not expect.
class BoxCatcher {
public:
    struct Box {
        std::string caption;
        std::string text;
    };
    explicit BoxCatcher(int answer = IDOK);
    ~BoxCatcher();
    BoxCatcher(const BoxCatcher&) = delete;
    BoxCatcher& operator=(const BoxCatcher&) = delete;

    std::vector<Box> boxes;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK hook;
    int answer;
};

// A fresh, empty directory under the temporary directory, removed with
// everything in it at the end of the object's life.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path;                      // without a final backslash
    std::string File(const std::string& name) const { return path + "\\" + name; }
};

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

// Removes the program's settings, so the next load is a first run.
void DeleteSettingsKey();
