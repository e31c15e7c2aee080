// What each platform call a request makes costs, one call at a time, and
// what the platform answers in the cases the handlers rely on. Prints one
// line per call: microseconds per call, median and mean of the rounds.
// Usage: calls.exe DIR [ROUNDS]   (DIR: a scratch directory; a subdirectory
// "list" of it, when present, is enumerated whole each round)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
LARGE_INTEGER frequency;

double Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1e6 / double(frequency.QuadPart);
}

// Per call, the rounds' times in microseconds.
struct Timings {
    std::vector<std::pair<std::string, std::vector<double>>> rows;
    std::vector<double>& Of(const char* name) {
        for (auto& r : rows)
            if (r.first == name) return r.second;
        rows.push_back({name, {}});
        return rows.back().second;
    }
};

// Times f once into the named row.
template <typename F>
auto Time(Timings& t, const char* name, F f) {
    double t0 = Now();
    auto r = f();
    t.Of(name).push_back(Now() - t0);
    return r;
}

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        TextOutA(ps.hdc, 10, 120, "Number of Requests: 12345", 25);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: calls DIR [ROUNDS]\n");
        return 2;
    }
    QueryPerformanceFrequency(&frequency);
    std::string dir = argv[1];
    int rounds = argc > 2 ? std::atoi(argv[2]) : 2000;
    std::string file = dir + "\\calls.bin", piece = dir + "\\calls.tmp", list = dir + "\\list";
    {
        std::vector<char> content(1 << 20, 'c');
        HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n;
        WriteFile(h, content.data(), DWORD(content.size()), &n, nullptr);
        CloseHandle(h);
        h = CreateFileA(piece.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        CloseHandle(h);
    }

    // What the download handler relies on.
    HANDLE d = CreateFileA(dir.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_RANDOM_ACCESS, nullptr);
    std::printf("CreateFileA on a directory (no backup semantics): %s, error %lu\n",
                d == INVALID_HANDLE_VALUE ? "fails" : "opens", GetLastError());
    if (d != INVALID_HANDLE_VALUE) CloseHandle(d);
    HANDLE f = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_RANDOM_ACCESS, nullptr);
    char buffer[1024];
    DWORD got = 12345;
    OVERLAPPED at = {};
    at.Offset = 1u << 20; // the end of the file
    BOOL ok = ReadFile(f, buffer, sizeof(buffer), &got, &at);
    std::printf("positioned ReadFile at the end: %s, %lu bytes, error %lu\n", ok ? "TRUE" : "FALSE",
                got, ok ? 0ul : GetLastError());
    at.Offset = 0x80000000u;
    got = 12345;
    ok = ReadFile(f, buffer, sizeof(buffer), &got, &at);
    std::printf("positioned ReadFile at 2^31: %s, %lu bytes, error %lu\n", ok ? "TRUE" : "FALSE", got,
                ok ? 0ul : GetLastError());
    LARGE_INTEGER past;
    past.QuadPart = 0xFFFFFC00ll; // past the end, beyond 2^31
    got = 12345;
    ok = SetFilePointerEx(f, past, nullptr, FILE_BEGIN) && ReadFile(f, buffer, sizeof(buffer), &got, nullptr);
    std::printf("SetFilePointerEx to 2^32 - 1024, ReadFile: %s, %lu bytes\n", ok ? "TRUE" : "FALSE", got);
    CloseHandle(f);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
    wc.lpszClassName = "VfspdCalls";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "VfspdCalls", "calls", WS_SYSMENU | WS_MINIMIZEBOX, 50, 150, 362,
                                210, nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);

    Timings t;
    const RECT band = {0, 101, 32767, 32767};
    for (int i = 0; i < rounds; ++i) {
        DWORD offset = DWORD(i % 1024) * 1024;
        // A download block as it was: open, examine, seek, read, close.
        HANDLE h = Time(t, "get, before: CreateFileA", [&] {
            return CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_RANDOM_ACCESS, nullptr);
        });
        BY_HANDLE_FILE_INFORMATION info;
        Time(t, "get, before: GetFileInformationByHandle", [&] { return GetFileInformationByHandle(h, &info); });
        LARGE_INTEGER to;
        to.QuadPart = offset;
        Time(t, "get, before: SetFilePointerEx", [&] { return SetFilePointerEx(h, to, nullptr, FILE_BEGIN); });
        Time(t, "get, before: ReadFile", [&] { return ReadFile(h, buffer, sizeof(buffer), &got, nullptr); });
        Time(t, "get, before: CloseHandle", [&] { return CloseHandle(h); });

        // Open, positioned read, close.
        h = Time(t, "get, positioned: CreateFileA", [&] {
            return CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_RANDOM_ACCESS, nullptr);
        });
        OVERLAPPED o = {};
        o.Offset = offset;
        Time(t, "get, positioned: ReadFile positioned", [&] { return ReadFile(h, buffer, sizeof(buffer), &got, &o); });
        Time(t, "get, positioned: CloseHandle", [&] { return CloseHandle(h); });

        // A download block now: open, seek, read, close.
        h = Time(t, "get, now: CreateFileA", [&] {
            return CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_RANDOM_ACCESS, nullptr);
        });
        Time(t, "get, now: SetFilePointerEx", [&] { return SetFilePointerEx(h, to, nullptr, FILE_BEGIN); });
        Time(t, "get, now: ReadFile", [&] { return ReadFile(h, buffer, sizeof(buffer), &got, nullptr); });
        Time(t, "get, now: CloseHandle", [&] { return CloseHandle(h); });

        // An upload piece: open, seek, write, close; and with a positioned write.
        h = Time(t, "put, seek: CreateFileA", [&] {
            return CreateFileA(piece.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_RANDOM_ACCESS, nullptr);
        });
        Time(t, "put, seek: SetFilePointer", [&] { return SetFilePointer(h, LONG(offset), nullptr, FILE_BEGIN); });
        Time(t, "put, seek: WriteFile", [&] { return WriteFile(h, buffer, sizeof(buffer), &got, nullptr); });
        Time(t, "put, seek: CloseHandle", [&] { return CloseHandle(h); });
        h = Time(t, "put, positioned: CreateFileA", [&] {
            return CreateFileA(piece.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_RANDOM_ACCESS, nullptr);
        });
        o = {};
        o.Offset = offset;
        Time(t, "put, positioned: WriteFile positioned", [&] { return WriteFile(h, buffer, sizeof(buffer), &got, &o); });
        Time(t, "put, positioned: CloseHandle", [&] { return CloseHandle(h); });

        // What a listing at position 0 asks before it reuses a kept layout.
        WIN32_FILE_ATTRIBUTE_DATA a;
        Time(t, "dir, kept: GetTickCount64", [&] { return GetTickCount64(); });
        Time(t, "dir, kept: GetFileAttributesExA", [&] { return GetFileAttributesExA(dir.c_str(), GetFileExInfoStandard, &a); });

        // The window work of every datagram.
        Time(t, "window: SetWindowTextA", [&] { return SetWindowTextA(hwnd, i % 2 ? "VrelFSPd idle" : "VrelFSPd active"); });
        Time(t, "window: InvalidateRect + paint", [&] {
            InvalidateRect(hwnd, &band, TRUE);
            return UpdateWindow(hwnd);
        });
    }
    // A whole enumeration of the listing directory, if there is one.
    std::string pattern = list + "\\*.*";
    int entries = 0;
    for (int i = 0; i < 5 && GetFileAttributesA(list.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
        entries = Time(t, "list: enumerate DIR\\list whole", [&] {
            WIN32_FIND_DATAA fd;
            HANDLE e = FindFirstFileA(pattern.c_str(), &fd);
            int n = 0;
            if (e != INVALID_HANDLE_VALUE) {
                do ++n;
                while (FindNextFileA(e, &fd));
                FindClose(e);
            }
            return n;
        });
    }

    // Each call's median and mean, and the sums of a sequence's after it.
    std::printf("%-44s %10s %10s\n", "sequence: call", "median", "mean");
    std::string sequence;
    double sumMedian = 0, sumMean = 0;
    auto total = [&] {
        if (!sequence.empty())
            std::printf("%-44s %10.1f %10.1f\n", (sequence + ": all").c_str(), sumMedian, sumMean);
    };
    for (auto& [name, v] : t.rows) {
        std::string s = name.substr(0, name.find(':'));
        if (s != sequence) {
            total();
            sequence = s;
            sumMedian = sumMean = 0;
        }
        std::sort(v.begin(), v.end());
        double mean = 0;
        for (double x : v) mean += x / double(v.size());
        sumMedian += v[v.size() / 2];
        sumMean += mean;
        std::printf("%-44s %10.1f %10.1f\n", name.c_str(), v[v.size() / 2], mean);
    }
    total();
    if (entries) std::printf("(DIR\\list holds %d entries)\n", entries);
    DeleteFileA(file.c_str());
    DeleteFileA(piece.c_str());
    DestroyWindow(hwnd);
    return 0;
}
