#include "FileSystem.h"

#include <aclapi.h>
#include <ntsecapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace fsys {

namespace {
// The faults tests have set, one per call. Looked at under a lock (a copy
// across volumes calls Read and Write from its own thread), and only when
// some fault is set at all.
struct Fault {
    DWORD error = 0;
    int times = 0; // calls left to fail; < 0 for every call
    std::string pathPart;
    DWORD delayMs = 0; // a slow call, not a failed one
    std::function<bool()> when;
};
std::mutex faultLock;
Fault faults[size_t(Call::kCount)];
std::atomic<int> faultCount{0};

// Whether the call on path (or on other, the second path of a rename)
// fails by a test's wish; the error is then the last one.
bool Faulted(Call call, const wchar_t* path = nullptr, const wchar_t* other = nullptr) {
    if (faultCount.load(std::memory_order_relaxed) == 0) return false;
    std::unique_lock<std::mutex> hold(faultLock);
    Fault& f = faults[size_t(call)];
    if (f.delayMs) {
        DWORD ms = f.delayMs;
        hold.unlock();
        Sleep(ms);
        return false;
    }
    if (f.times == 0) return false;
    if (!f.pathPart.empty()) {
        auto holds = [&](const wchar_t* p) {
            std::vector<char> narrow(std::wcslen(p) * 3 + 1);
            return Narrow(p, narrow.data(), narrow.size()) && std::strstr(narrow.data(), f.pathPart.c_str());
        };
        if (!(path && holds(path)) && !(other && holds(other))) return false;
    }
    if (f.when && !f.when()) return false;
    if (f.times > 0 && --f.times == 0) --faultCount;
    SetLastError(f.error);
    return true;
}

bool Held(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

// Runs attempt until it succeeds, fails otherwise than by another
// program holding the entry, or kRetryMs have passed; the last error is
// attempt's.
template <typename Attempt>
bool Retried(Attempt attempt) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (attempt()) return true;
        DWORD error = GetLastError();
        if (!Held(error) || GetTickCount() - start >= kRetryMs) {
            SetLastError(error);
            return false;
        }
        Sleep(10);
    }
}

// The parts of a wide path: "\\?\" and "\\?\UNC\" are left off, so that
// the same entry has one identity whether its path was long or not.
const wchar_t* WithoutLongPrefix(const std::wstring& w, std::wstring* unc) {
    if (w.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        *unc = L"\\\\" + w.substr(8);
        return unc->c_str();
    }
    return w.compare(0, 4, L"\\\\?\\") == 0 ? w.c_str() + 4 : w.c_str();
}

// The last name of a path and the length of what comes before it.
size_t LastNameAt(const std::wstring& w) {
    size_t slash = w.find_last_of(L'\\');
    return slash == std::wstring::npos ? 0 : slash + 1;
}

LetGo letGo; // the server's, called on the thread that serves requests
const void* letGoOwner = nullptr;
DWORD letGoThread = 0;

void LetGoOf(const char* path) {
    // Only the serving thread holds downloads open; a copy's thread,
    // removing its own hidden file, must not touch them.
    if (letGo && path && GetCurrentThreadId() == letGoThread) letGo(path);
}

// The POSIX forms of rename and delete, by their numbers: the headers
// name them only for Windows 10 targets, and this program starts on 7.
constexpr auto kDispositionInfoEx = FILE_INFO_BY_HANDLE_CLASS(21);
constexpr auto kRenameInfoEx = FILE_INFO_BY_HANDLE_CLASS(22);
constexpr DWORD kDispositionDelete = 0x1, kDispositionPosix = 0x2;
constexpr DWORD kRenameReplace = 0x1, kRenamePosix = 0x2;

// The entry itself, not what a link points to, opened to be renamed or
// deleted whoever else has it open; folders only when asked (a delete is
// of files alone).
HANDLE OpenToChange(const std::wstring& w, bool folders) {
    return CreateFileW(w.c_str(), DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | (folders ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr);
}

// Sets information on the entry at w, opened for the change; the last
// error is the system's answer.
bool SetOn(const std::wstring& w, bool folders, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) {
    HANDLE h = OpenToChange(w, folders);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = SetFileInformationByHandle(h, what, info, size) != 0;
    DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
    return ok;
}

// The name a rename through a handle takes: the whole path, in the
// system's own form (\??\C:\... or \??\UNC\server\share\...).
bool NtName(const std::wstring& w, std::wstring* out) {
    std::wstring full = w;
    if (w.compare(0, 4, L"\\\\?\\") == 0) {
        full = w.substr(4);
    } else {
        DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
        if (n == 0) return false;
        full.assign(n, L'\0');
        n = GetFullPathNameW(w.c_str(), n, &full[0], nullptr);
        if (n == 0 || n >= full.size()) return false;
        full.resize(n);
        if (full.compare(0, 2, L"\\\\") == 0) full = L"UNC\\" + full.substr(2);
    }
    *out = L"\\??\\" + full;
    return true;
}

bool PosixDelete(const std::wstring& w) {
    if (Faulted(Call::PosixDelete, w.c_str())) return false;
    DWORD flags = kDispositionDelete | kDispositionPosix;
    return SetOn(w, false, kDispositionInfoEx, &flags, sizeof(flags));
}

bool PosixMove(const std::wstring& from, const std::wstring& to, bool replace) {
    std::wstring name;
    if (Faulted(Call::PosixMove, from.c_str(), to.c_str()) || !NtName(to, &name)) return false;
    const size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    // The flags take the place of ReplaceIfExists, the first field.
    const DWORD flags = kRenamePosix | (replace ? kRenameReplace : 0);
    std::memcpy(info, &flags, sizeof(flags));
    info->RootDirectory = nullptr;
    info->FileNameLength = DWORD(bytes);
    std::memcpy(info->FileName, name.data(), bytes);
    return SetOn(from, true, kRenameInfoEx, info, DWORD(buffer.size()));
}

// One rename, the POSIX way or else the plain way after letting go of
// what the server holds at the narrow paths given.
bool MoveOnce(const std::wstring& from, const std::wstring& to, bool replace, const char* fromPath,
              const char* toPath) {
    return Retried([&] {
        if (PosixMove(from, to, replace)) return true;
        LetGoOf(fromPath);
        LetGoOf(toPath);
        return !Faulted(Call::Move, from.c_str(), to.c_str()) &&
               MoveFileExW(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0;
    });
}
} // namespace

void InjectFault(Call call, DWORD error, int times, const char* pathPart, std::function<bool()> when) {
    std::lock_guard<std::mutex> hold(faultLock);
    Fault& f = faults[size_t(call)];
    if (f.times == 0 && times != 0) ++faultCount;
    if (f.times != 0 && times == 0) --faultCount;
    f.error = error;
    f.times = times;
    f.pathPart = pathPart ? pathPart : "";
    f.when = std::move(when);
}

void SetLetGo(const void* owner, LetGo hook) {
    if (!hook && owner != letGoOwner) return;
    letGo = std::move(hook);
    letGoOwner = letGo ? owner : nullptr;
    letGoThread = GetCurrentThreadId();
}

void InjectDelay(Call call, DWORD ms) {
    std::lock_guard<std::mutex> hold(faultLock);
    Fault& f = faults[size_t(call)];
    if (f.times == 0 && !f.delayMs && ms) ++faultCount;
    if (f.times == 0 && f.delayMs && !ms) --faultCount;
    f.delayMs = ms;
}

void ClearFaults() {
    std::lock_guard<std::mutex> hold(faultLock);
    for (Fault& f : faults) f = Fault{};
    faultCount = 0;
}

bool Wide(const char* path, std::wstring* out) {
    out->clear();
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (n <= 0) return false;
    out->resize(size_t(n));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, &(*out)[0], n) != n) return false;
    out->resize(size_t(n - 1));
    if (out->size() < kLongFrom || out->compare(0, 4, L"\\\\?\\") == 0) return true;
    // The \\?\ form is taken as it stands: make the path whole first.
    DWORD m = GetFullPathNameW(out->c_str(), 0, nullptr, nullptr);
    if (m == 0) return false;
    std::wstring full(m, L'\0');
    m = GetFullPathNameW(out->c_str(), m, &full[0], nullptr);
    if (m == 0 || m >= full.size()) return false;
    full.resize(m);
    if (full.compare(0, 2, L"\\\\") == 0)
        *out = L"\\\\?\\UNC\\" + full.substr(2);
    else
        *out = L"\\\\?\\" + full;
    return true;
}

bool Narrow(const wchar_t* name, char* out, size_t size) {
    int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name, -1, out, int(size), nullptr, nullptr);
    if (n <= 0) {
        if (size) out[0] = '\0';
        return false;
    }
    return true;
}

HANDLE Open(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    std::wstring w;
    if (!Wide(path, &w)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = INVALID_HANDLE_VALUE;
    Retried([&] {
        if (Faulted(Call::Open, w.c_str())) return false;
        h = CreateFileW(w.c_str(), access, share, nullptr, disposition, flags, nullptr);
        return h != INVALID_HANDLE_VALUE;
    });
    return h;
}

bool Read(HANDLE file, void* buffer, DWORD n, DWORD* got) {
    *got = 0;
    if (Faulted(Call::Read)) return false;
    return ReadFile(file, buffer, n, got, nullptr) != 0;
}

bool Write(HANDLE file, const void* data, DWORD n) {
    if (Faulted(Call::Write)) return false;
    DWORD written = 0;
    if (!WriteFile(file, data, n, &written, nullptr)) return false;
    if (written == n) return true;
    SetLastError(ERROR_DISK_FULL);
    return false;
}

bool Seek(HANDLE file, uint64_t position) {
    if (Faulted(Call::Seek)) return false;
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(position);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
}

bool SetEnd(HANDLE file) { return !Faulted(Call::SetEnd) && SetEndOfFile(file) != 0; }

bool SetWriteTime(HANDLE file, const FILETIME& time) {
    return !Faulted(Call::SetTime) && SetFileTime(file, nullptr, nullptr, &time) != 0;
}

bool Information(HANDLE file, BY_HANDLE_FILE_INFORMATION* out) {
    return !Faulted(Call::Attributes) && GetFileInformationByHandle(file, out) != 0;
}

bool Attributes(const char* path, WIN32_FILE_ATTRIBUTE_DATA* out) {
    std::wstring w;
    if (!Wide(path, &w)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return Retried([&] {
        return !Faulted(Call::Attributes, w.c_str()) &&
               GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, out) != 0;
    });
}

DWORD AttributeBits(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    return Attributes(path, &a) ? a.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool SetAttributes(const char* path, DWORD attributes) {
    std::wstring w;
    return Wide(path, &w) && Retried([&] {
               return !Faulted(Call::SetAttributes, w.c_str()) && SetFileAttributesW(w.c_str(), attributes) != 0;
           });
}

bool Delete(const char* path) {
    std::wstring w;
    if (!Wide(path, &w)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const DWORD before = GetLastError();
    bool ok = Retried([&] {
        if (PosixDelete(w)) return true;
        LetGoOf(path);
        return !Faulted(Call::Delete, w.c_str()) && DeleteFileW(w.c_str()) != 0;
    });
    if (ok) SetLastError(before);
    return ok;
}

bool MakeDirectory(const char* path) {
    std::wstring w;
    return Wide(path, &w) && Retried([&] {
               return !Faulted(Call::MakeDir, w.c_str()) && CreateDirectoryW(w.c_str(), nullptr) != 0;
           });
}

bool RemoveDir(const char* path) {
    std::wstring w;
    return Wide(path, &w) &&
           Retried([&] { return !Faulted(Call::RemoveDir, w.c_str()) && RemoveDirectoryW(w.c_str()) != 0; });
}

bool Move(const char* from, const char* to, bool replace) {
    std::wstring f, t;
    if (!Wide(from, &f) || !Wide(to, &t)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // The same entry under another spelling: through a name of its own in
    // the same folder, which no client can name or make.
    if (f != t && Identity(from) == Identity(to)) {
        unsigned char random[8];
        if (!RtlGenRandom(random, sizeof(random))) return false;
        wchar_t name[40];
        std::swprintf(name, 40, L".vfspd-%02X%02X%02X%02X%02X%02X%02X%02X.part", random[0], random[1],
                      random[2], random[3], random[4], random[5], random[6], random[7]);
        std::wstring between = f.substr(0, LastNameAt(f)) + name;
        if (!MoveOnce(f, between, false, from, nullptr)) return false;
        if (MoveOnce(between, t, false, nullptr, nullptr)) return true;
        DWORD error = GetLastError();
        MoveFileExW(between.c_str(), f.c_str(), 0); // back where it was
        SetLastError(error);
        return false;
    }
    return MoveOnce(f, t, replace, from, to);
}

bool RenameOpen(HANDLE file, const char* to, bool replace) {
    std::wstring t;
    if (!Wide(to, &t)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (Faulted(Call::Move)) return false;
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + (t.size() + 1) * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = DWORD(t.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, t.c_str(), (t.size() + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle(file, FileRenameInfo, info, DWORD(buffer.size())) != 0;
}

bool DeleteOpen(HANDLE file) {
    if (Faulted(Call::Delete)) return false;
    FILE_DISPOSITION_INFO info = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof(info)) != 0;
}

bool FinalPath(HANDLE file, char* out, size_t size) {
    wchar_t name[MAX_PATH * 4];
    DWORD n = GetFinalPathNameByHandleW(file, name, MAX_PATH * 4, FILE_NAME_NORMALIZED);
    return n > 0 && n < MAX_PATH * 4 && Narrow(name, out, size);
}

bool FreeSpace(const char* folder, uint64_t* available, uint64_t* total) {
    std::wstring w;
    ULARGE_INTEGER a, t;
    if (!Wide(folder, &w) || Faulted(Call::FreeSpace, w.c_str()) || !GetDiskFreeSpaceExW(w.c_str(), &a, &t, nullptr))
        return false;
    *available = a.QuadPart;
    *total = t.QuadPart;
    return true;
}

bool InheritPermissions(const char* path) {
    std::wstring w;
    if (!Wide(path, &w) || Faulted(Call::Security, w.c_str())) return false;
    // An empty list of its own, open to what the folder passes on.
    ACL empty;
    if (!InitializeAcl(&empty, sizeof(empty), ACL_REVISION)) return false;
    DWORD error = SetNamedSecurityInfoW(&w[0], SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, &empty, nullptr);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

bool FullPath(const char* path, char* out, size_t size) {
    std::wstring w;
    wchar_t full[MAX_PATH * 4];
    if (!Wide(path, &w)) return false;
    DWORD n = GetFullPathNameW(w.c_str(), MAX_PATH * 4, full, nullptr);
    return n > 0 && n < MAX_PATH * 4 && Narrow(full, out, size);
}

Finder::~Finder() {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

bool Finder::Start(const char* dir) {
    std::wstring w;
    if (!Wide(dir, &w)) return false;
    if (w.empty() || w.back() != L'\\') w += L'\\';
    w += L'*';
    pending = Retried([&] {
        if (Faulted(Call::Find, w.c_str())) return false;
        find = FindFirstFileW(w.c_str(), &data);
        return find != INVALID_HANDLE_VALUE;
    });
    return pending;
}

bool Finder::Next(Found* out) {
    for (;;) {
        if (!pending && (find == INVALID_HANDLE_VALUE || !FindNextFileW(find, &data))) return false;
        pending = false;
        data.cFileName[MAX_PATH - 1] = L'\0';
        if (!Narrow(data.cFileName, out->name, sizeof(out->name))) continue;
        out->attributes = data.dwFileAttributes;
        out->size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        out->writeTime = data.ftLastWriteTime;
        return true;
    }
}

std::string Identity(const char* path) {
    std::wstring w;
    if (!Wide(path, &w)) return std::string();
    // A short name holds a '~': only then is the long name looked up, of
    // the longest part of the path that exists.
    if (w.find(L'~') != std::wstring::npos) {
        std::vector<wchar_t> buffer(32768);
        std::wstring head = w, tail;
        while (head.size() > 3) {
            DWORD n = GetLongPathNameW(head.c_str(), buffer.data(), DWORD(buffer.size()));
            if (n > 0 && n < buffer.size()) {
                w.assign(buffer.data(), n);
                w += tail;
                break;
            }
            size_t at = LastNameAt(head);
            if (at == 0) break;
            tail = head.substr(at - 1) + tail;
            head.resize(at - 1);
        }
    }
    std::wstring unc;
    const wchar_t* plain = WithoutLongPrefix(w, &unc);
    int n = int(std::wcslen(plain));
    std::wstring upper(size_t(n), L'\0');
    if (n > 0 && LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, plain, n, &upper[0], n, nullptr,
                               nullptr, 0) != n)
        upper.assign(plain, size_t(n));
    while (upper.size() > 3 && upper.back() == L'\\') upper.pop_back();
    std::string out(upper.size() * 3 + 1, '\0');
    if (!Narrow(upper.c_str(), &out[0], out.size())) return std::string();
    out.resize(std::strlen(out.c_str()));
    return out;
}

bool AtOrBelow(const std::string& inner, const std::string& outer) {
    return inner.size() >= outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           (inner.size() == outer.size() || inner[outer.size()] == '\\' || (!outer.empty() && outer.back() == '\\'));
}

} // namespace fsys
