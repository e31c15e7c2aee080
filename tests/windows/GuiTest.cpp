#include "GuiTest.h"

#include <commctrl.h>
#include <cstring>

#include "../../engine/core/Packet.h"
#include "../../settings/RegistryKey.h"
#include "../../ui/Main.h"

namespace {
DialogDriver* driver = nullptr;
const char kServer[] = "SOFTWARE\\Quorvane\\VrelFSPd\\Server";
const char kLocation[] = "SOFTWARE\\Quorvane\\VrelFSPd\\Location";
} // namespace

DialogDriver::DialogDriver() {
    driver = this;
    hook = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

DialogDriver::~DialogDriver() {
    UnhookWindowsHookEx(hook);
    for (auto& a : armed) KillTimer(nullptr, a.first);
    driver = nullptr;
}

void DialogDriver::Later(HWND window, Step step) {
    UINT_PTR id = SetTimer(nullptr, 0, 1, Fire);
    armed[id] = {window, std::move(step)};
}

std::vector<std::string> DialogDriver::Captions() const {
    std::vector<std::string> out;
    for (const Opened& o : opened) out.push_back(o.caption);
    return out;
}

LRESULT CALLBACK DialogDriver::Hook(int code, WPARAM wParam, LPARAM lParam) {
    HWND w = reinterpret_cast<HWND>(wParam);
    if (driver && code == HCBT_DESTROYWND) driver->live.erase(w);
    if (driver && code == HCBT_ACTIVATE && !driver->live.count(w)) {
        char cls[32] = {};
        GetClassNameA(w, cls, sizeof(cls));
        if (std::strcmp(cls, "#32770") == 0) {
            // A dialog is activated again when a box it opened closes:
            // only its first activation counts.
            driver->live.insert(w);
            char caption[256] = {}, text[1024] = {};
            GetWindowTextA(w, caption, sizeof(caption));
            GetDlgItemTextA(w, 0xFFFF, text, sizeof(text));
            driver->opened.push_back({w, GetWindow(w, GW_OWNER), caption, text});
            Step step = [](HWND box) { PostMessageA(box, WM_COMMAND, IDOK, 0); };
            if (!driver->steps.empty()) {
                step = std::move(driver->steps.front());
                driver->steps.pop_front();
            }
            driver->Later(w, std::move(step));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK DialogDriver::Fire(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (!driver) return;
    auto it = driver->armed.find(id);
    if (it == driver->armed.end()) return;
    auto [window, step] = std::move(it->second);
    driver->armed.erase(it);
    if (IsWindow(window)) step(window);
}

void TypeInto(HWND dialog, int id, const std::string& text) {
    HWND edit = GetDlgItem(dialog, id);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, WM_CHAR, VK_BACK, 0);
    for (char c : text) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
}

void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressKey(HWND dialog, int id, WPARAM key) {
    HWND control = GetDlgItem(dialog, id);
    SetFocus(control);
    PostMessageA(control, WM_KEYDOWN, key, 1);
    PostMessageA(control, WM_KEYUP, key, 1 | (3u << 30));
}

void CloseBox(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

uint16_t FreeUdpPort() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    int n = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    closesocket(s);
    return ntohs(a.sin_port);
}

UdpClient::UdpClient(uint16_t serverPort) {
    s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(serverPort);
    connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
}

UdpClient::~UdpClient() { closesocket(s); }

void UdpClient::Send(uint8_t command, const std::string& path, uint32_t position) {
    unsigned char packet[fsp::kMaxPacket];
    int n = fsp::BuildReply(packet, command, key, sequence++, position,
                            reinterpret_cast<const unsigned char*>(path.c_str()),
                            path.empty() ? 0 : int(path.size() + 1), nullptr, 0);
    packet[1] = uint8_t(fsp::CalcChecksum(packet, n, 0));
    send(s, reinterpret_cast<const char*>(packet), n, 0);
}

bool UdpClient::Pending() {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval zero = {0, 0};
    return select(0, &set, nullptr, nullptr, &zero) == 1;
}

int UdpClient::Receive(std::string* text, DWORD ms) {
    if (!PumpUntil([&] { return Pending(); }, ms)) return -1;
    unsigned char packet[fsp::kMaxPacket];
    int n = recv(s, reinterpret_cast<char*>(packet), sizeof(packet), 0);
    if (n < fsp::kHeaderSize) return -1;
    key = fsp::GetU16(packet + 2);
    if (text) {
        size_t length = fsp::GetU16(packet + 6);
        if (length > size_t(n - fsp::kHeaderSize)) length = size_t(n - fsp::kHeaderSize);
        const char* data = reinterpret_cast<const char*>(packet + fsp::kHeaderSize);
        *text = std::string(data, strnlen(data, length));
    }
    return packet[0];
}

void StoreSettings(const GuiSettings& s) {
    RegistryKey server(kServer);
    RegistryKey location(kLocation);
    server.SaveDWORD("FSPPort", s.port);
    server.SaveDWORD("Logging", s.logging);
    server.SaveDWORD("UploadOnly", s.uploadOnly);
    server.SaveDWORD("ReadWrite", s.readWrite);
    server.SaveDWORD("RevName", s.revName);
    server.SaveDWORD("PrivMode", s.privMode);
    server.SaveDWORD("ThruOut", s.thruOut);
    server.SaveMultiString("Hosts", s.hosts);
    location.SaveString("RootPath", s.root);
    location.SaveString("LogPath", s.log);
}

unsigned long StoredFlag(const char* name) {
    RegistryKey key(kServer);
    unsigned long v = 0xDEADBEEF;
    key.GetDWORD(name, &v);
    return v;
}

std::string StoredText(const char* name) {
    RegistryKey key(kLocation);
    std::string s = "<missing>";
    key.GetString(name, &s);
    return s;
}

bool Checked(HWND window, UINT id) {
    return (GetMenuState(GetMenu(window), id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

bool Grayed(HWND window, UINT id) {
    return (GetMenuState(GetMenu(window), id, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

std::string Caption(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string StatusText(MainWindow& window) {
    PumpUntil([] { return !GetQueueStatus(QS_ALLINPUT); }, 200); // what was posted so far first
    char text[512] = {};
    SendMessageA(window.statusBar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

void GuiTest::SetUpTestSuite() {
    static bool registered = false;
    if (!registered) {
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
        registered = MainWindow::RegisterWindowClass(Main::hInstance) != 0;
    }
    ASSERT_TRUE(registered);
}

void GuiTest::SetUp() {
    DeleteSettingsKey();
    CreateDirectoryA(dir.File("root").c_str(), nullptr);
    settings.port = FreeUdpPort();
    settings.root = dir.File("root");
    settings.log = dir.File("vfspd.log");
}

void GuiTest::Open() {
    StoreSettings(settings);
    window = std::make_unique<MainWindow>();
}

void GuiTest::TearDown() {
    window.reset();
    // Whatever a test left queued, a quit message above all, must not end
    // the next test's loops early.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    DeleteSettingsKey();
}
