#include <gtest/gtest.h>

#include <cstdio>

#include "../../ui/Main.h"
#include "WinTest.h"

namespace {
BoxCatcher* current = nullptr;
}

BoxCatcher::BoxCatcher(int answer_) : answer(answer_) {
    current = this;
    hook = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

BoxCatcher::~BoxCatcher() {
    UnhookWindowsHookEx(hook);
    current = nullptr;
}

LRESULT CALLBACK BoxCatcher::Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && current) {
        HWND w = reinterpret_cast<HWND>(wParam);
        char cls[32] = {};
        GetClassNameA(w, cls, sizeof(cls));
        if (std::string(cls) == "#32770") {
            char caption[256] = {}, text[1024] = {};
            GetWindowTextA(w, caption, sizeof(caption));
            GetDlgItemTextA(w, 0xFFFF, text, sizeof(text));
            current->boxes.push_back({caption, text});
            PostMessageA(w, WM_COMMAND, current->answer, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TempDir::TempDir() {
    char base[MAX_PATH];
    GetTempPathA(sizeof(base), base);
    static unsigned counter = 0;
    char name[MAX_PATH];
    std::snprintf(name, sizeof(name), "%svfspd-test-%lu-%u", base, GetCurrentProcessId(), ++counter);
    path = name;
    CreateDirectoryA(path.c_str(), nullptr);
}

static void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(full);
            else DeleteFileA(full.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

TempDir::~TempDir() { RemoveTree(path); }

std::string ReadFileText(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

void WriteFileText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void DeleteSettingsKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quorvane"); }

int main(int argc, char** argv) {
    Main::hInstance = GetModuleHandleA(nullptr);
    Main::nCmdShow = SW_SHOWNOACTIVATE;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
