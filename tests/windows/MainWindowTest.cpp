// The main window in-process: its menu against the settings, its caption
// and band while requests come, and the ways out of the message loop.
#include <cstring>

#include "../../engine/core/Packet.h"
#include "../../engine/core/Policy.h"
#include "../../ui/Main.h"
#include "../../ui/resource.h"
#include "GuiTest.h"

namespace {
using MainWindowTest = GuiTest;

const struct {
    UINT id;
    const char* value; // the registry value it is stored in, or none
} kFlags[] = {
    {IDM_ACCEPT, nullptr},        {IDM_UPLOADONLY, "UploadOnly"}, {IDM_READWRITE, "ReadWrite"},
    {IDM_LOGGING, "Logging"},     {IDM_REVNAME, "RevName"},       {IDM_PRIVMODE, "PrivMode"},
    {IDM_THRUOUT, "ThruOut"},
};

// Every caption the window is given and every paint, with the request
// count at that moment.
struct CaptionSpy {
    static inline std::vector<std::pair<std::string, unsigned long>> seen, painted;
    static inline MainWindow* target = nullptr;
    static inline WNDPROC original = nullptr;
    explicit CaptionSpy(MainWindow& w) {
        seen.clear();
        painted.clear();
        target = &w;
        original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(w.hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
    }
    ~CaptionSpy() { SetWindowLongPtrA(target->hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original)); }
    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_SETTEXT)
            seen.emplace_back(reinterpret_cast<const char*>(lParam), target->daemon.requestCount);
        if (msg == WM_PAINT) painted.emplace_back("", target->daemon.requestCount);
        return CallWindowProcA(original, h, msg, wParam, lParam);
    }
};

// Runs the message loop as the entry point does, with a deadline: a loop
// still running after it is ended with 99.
WPARAM RunLoop() {
    UINT_PTR guard = SetTimer(nullptr, 0, 15000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); });
    WPARAM result = Main::MessageLoop();
    KillTimer(nullptr, guard);
    return result;
}
} // namespace

TEST_F(MainWindowTest, StartsIdleWithTheMenuMarkedFromTheSettings) {
    settings.logging = 0;
    settings.uploadOnly = 1;
    settings.readWrite = 8;
    settings.revName = 1;
    settings.thruOut = 8;
    Open();
    EXPECT_EQ(Caption(Hwnd()), "VrelFSPd idle");
    EXPECT_EQ(Main::hMainWindow, Hwnd());
    EXPECT_TRUE(Checked(Hwnd(), IDM_ACCEPT));
    EXPECT_TRUE(Checked(Hwnd(), IDM_UPLOADONLY));
    EXPECT_TRUE(Grayed(Hwnd(), IDM_UPLOADONLY)); // full read/write is on
    EXPECT_TRUE(Checked(Hwnd(), IDM_READWRITE));
    EXPECT_FALSE(Checked(Hwnd(), IDM_LOGGING));
    EXPECT_TRUE(Checked(Hwnd(), IDM_REVNAME));
    EXPECT_FALSE(Checked(Hwnd(), IDM_PRIVMODE));
    EXPECT_TRUE(Checked(Hwnd(), IDM_THRUOUT));
    for (UINT id : {IDM_REVNAME, IDM_PRIVMODE, IDM_THRUOUT}) EXPECT_FALSE(Grayed(Hwnd(), id)) << id;
    EXPECT_FALSE(Window().daemon.eventLog.IsOpen());
    // The class gave the window its icon.
    EXPECT_NE(GetClassLongPtrA(Hwnd(), GCLP_HICON), 0);
}

TEST_F(MainWindowTest, EachToggleFlipsItsMarkAndStoresEveryFlagFromTheMenu) {
    Open();
    for (const auto& flag : kFlags) {
        SCOPED_TRACE(flag.id);
        bool before = Checked(Hwnd(), flag.id);
        bool wasGrayed = Grayed(Hwnd(), IDM_UPLOADONLY);
        SendMessageA(Hwnd(), WM_COMMAND, flag.id, 0);
        EXPECT_NE(Checked(Hwnd(), flag.id), before);
        if (flag.id != IDM_READWRITE) {
            EXPECT_EQ(Grayed(Hwnd(), IDM_UPLOADONLY), wasGrayed);
        }
        // All seven are read back from the menu (8 for a mark) and stored.
        for (const auto& f : kFlags) {
            unsigned long expect = Checked(Hwnd(), f.id) ? 8 : 0;
            if (f.value) {
                EXPECT_EQ(StoredFlag(f.value), expect) << f.value;
            }
        }
        EXPECT_EQ(Window().daemon.acceptRequests, Checked(Hwnd(), IDM_ACCEPT) ? 8 : 0);
        EXPECT_EQ(Window().daemon.eventLog.IsOpen(), Checked(Hwnd(), IDM_LOGGING));
        // And back again.
        SendMessageA(Hwnd(), WM_COMMAND, flag.id, 0);
        EXPECT_EQ(Checked(Hwnd(), flag.id), before);
        EXPECT_EQ(Window().daemon.eventLog.IsOpen(), Checked(Hwnd(), IDM_LOGGING));
    }
    EXPECT_EQ(StoredFlag("FSPPort"), settings.port);
    EXPECT_EQ(StoredText("RootPath"), settings.root + "\\");
}

TEST_F(MainWindowTest, FullReadWriteGraysUploadsOnlyAndKeepsItsMark) {
    for (unsigned long uploadOnly : {1ul, 0ul}) {
        SCOPED_TRACE(uploadOnly);
        settings.uploadOnly = uploadOnly;
        Open();
        SendMessageA(Hwnd(), WM_COMMAND, IDM_READWRITE, 0);
        EXPECT_TRUE(Grayed(Hwnd(), IDM_UPLOADONLY));
        EXPECT_EQ(Checked(Hwnd(), IDM_UPLOADONLY), uploadOnly != 0);
        EXPECT_EQ(StoredFlag("ReadWrite"), 8ul);
        EXPECT_EQ(StoredFlag("UploadOnly"), uploadOnly ? 8ul : 0ul);
        SendMessageA(Hwnd(), WM_COMMAND, IDM_READWRITE, 0);
        EXPECT_FALSE(Grayed(Hwnd(), IDM_UPLOADONLY));
        EXPECT_EQ(Checked(Hwnd(), IDM_UPLOADONLY), uploadOnly != 0);
        EXPECT_EQ(StoredFlag("ReadWrite"), 0ul);
        window.reset();
    }
}

TEST_F(MainWindowTest, TheCaptionSaysActiveForABurstAndTheBandEndsOnItsLastRequest) {
    Open();
    CaptionSpy spy(Window());
    UdpClient client(uint16_t(settings.port));
    const unsigned long kBurst = 300;
    DWORD start = GetTickCount();
    for (unsigned long i = 0; i < kBurst; ++i) {
        std::string text;
        client.Send(fsp::CC_VERSION);
        ASSERT_EQ(client.Receive(&text), fsp::CC_VERSION);
        ASSERT_EQ(text, fsp::kVersionText);
    }
    DWORD took = GetTickCount() - start;
    // Active from the first request on, not switched per request (a pause
    // of a loaded machine may end a burst early, never often).
    ASSERT_FALSE(CaptionSpy::seen.empty());
    EXPECT_EQ(CaptionSpy::seen[0], std::make_pair(std::string("VrelFSPd active"), 1ul));
    EXPECT_LE(CaptionSpy::seen.size(), 9u);
    EXPECT_LE(CaptionSpy::painted.size(), 3 + took / 40) << took << " ms";
    ASSERT_TRUE(PumpUntil([&] { return Caption(Hwnd()) == "VrelFSPd idle"; }, 2000));
    EXPECT_EQ(CaptionSpy::seen.back(), std::make_pair(std::string("VrelFSPd idle"), kBurst));
    ASSERT_FALSE(CaptionSpy::painted.empty());
    EXPECT_EQ(CaptionSpy::painted.back().second, kBurst);
    EXPECT_STREQ(inet_ntoa(Window().daemon.clientAddr.sin_addr), "127.0.0.1");

    // Refusing requests: the datagram is still read, but neither counted
    // nor answered, and the window shows no activity.
    SendMessageA(Hwnd(), WM_COMMAND, IDM_ACCEPT, 0);
    CaptionSpy::seen.clear();
    client.Send(fsp::CC_VERSION);
    ASSERT_TRUE(PumpUntil([&] {
        u_long waiting = 1;
        return ioctlsocket(Window().daemon.serverSocket, FIONREAD, &waiting) == 0 && waiting == 0;
    }));
    EXPECT_FALSE(client.Pending());
    EXPECT_TRUE(CaptionSpy::seen.empty());
    EXPECT_EQ(Window().daemon.requestCount, kBurst);
}

// A request's repaint leaves nothing of an earlier, longer address. (Under
// Wine a Windows socket sends from 127.0.0.1 whatever address it is bound
// to, so the earlier client is set directly.)
TEST_F(MainWindowTest, TheRepaintedBandShowsOnlyTheLastAddress) {
    Open();
    Window().daemon.requestCount = 1;
    Window().daemon.clientAddr.sin_addr.s_addr = inet_addr("127.0.0.100");
    RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    UdpClient client(uint16_t(settings.port));
    client.Send(fsp::CC_BYE);
    ASSERT_EQ(client.Receive(), fsp::CC_BYE);
    UpdateWindow(Hwnd());
    auto band = [&] {
        std::vector<COLORREF> pixels;
        HDC dc = GetDC(Hwnd());
        for (int y = 101; y < 160; ++y)
            for (int x = 0; x < 300; ++x) pixels.push_back(GetPixel(dc, x, y));
        ReleaseDC(Hwnd(), dc);
        return pixels;
    };
    std::vector<COLORREF> drawn = band();
    RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_TRUE(drawn == band());
}

TEST_F(MainWindowTest, ColourChangesAndSizeLimitsAreAnswered) {
    Open();
    EXPECT_EQ(SendMessageA(Hwnd(), WM_SYSCOLORCHANGE, 0, 0), 1);
    MINMAXINFO info;
    std::memset(&info, 0x5A, sizeof(info));
    MINMAXINFO untouched = info;
    EXPECT_EQ(SendMessageA(Hwnd(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.ptMaxSize.x, 368);
    EXPECT_EQ(info.ptMaxSize.y, 210);
    info.ptMaxSize = untouched.ptMaxSize;
    EXPECT_EQ(std::memcmp(&info, &untouched, sizeof(info)), 0);
}

TEST_F(MainWindowTest, ExitAndTheCloseBoxEndTheLoopWithZeroAndFreeThePort) {
    Open();
    PostMessageA(Hwnd(), WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(RunLoop(), 0u);
    EXPECT_TRUE(IsWindow(Hwnd())); // Exit leaves the window to the shutdown
    window.reset();

    Open();
    HWND w = Hwnd();
    PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(RunLoop(), 0u);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_TRUE(Window().daemon.eventLog.IsOpen());
    window.reset();

    // The server's socket and log went with it.
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(u_short(settings.port));
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    closesocket(s);
    EXPECT_TRUE(DeleteFileA(settings.log.c_str()));
}

// Programs of the viewers' names in the working directory, which a bare
// name finds before the system's, are not started: they are no programs,
// so starting one would fail with a box.
TEST_F(MainWindowTest, TheViewersAreTheSystemsOwn) {
    settings.log = dir.File("server log.txt");
    Open();
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof(previous), previous);
    WriteFileText(dir.File("notepad.exe"), "not a program");
    WriteFileText(dir.File("VFSPD.CHM"), "not a help file");
    ASSERT_TRUE(SetCurrentDirectoryA(dir.path.c_str()));
    DialogDriver boxes;
    SendMessageA(Hwnd(), WM_COMMAND, IDM_VIEWLOG, 0);
    SendMessageA(Hwnd(), WM_COMMAND, IDM_CONTENTS, 0);
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(boxes.opened.empty());
    // The help beside the program, in this process; Notepad on the configured log.
    HWND help = FindWindowA(nullptr, "VrelFSPd Help");
    ASSERT_NE(help, nullptr);
    DestroyWindow(help);
    for (auto [cls, caption] : {std::pair("Notepad", "server log.txt - Notepad")}) {
        HWND viewer = nullptr;
        ASSERT_TRUE(PumpUntil([&] { return (viewer = FindWindowA(cls, caption)) != nullptr; }, 30000)) << cls;
        DWORD pid = 0;
        GetWindowThreadProcessId(viewer, &pid);
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 30000);
        CloseHandle(process);
    }
    EXPECT_TRUE(Window().daemon.eventLog.IsOpen()); // open again after the flush
}

// The status bar under the band says whether and what is served, in each
// state, as soon as it changes; the log tells the same story. A port in
// use leaves the window up, not serving, until one is set that binds.
TEST_F(MainWindowTest, TheStatusBarAndTheLogSayWhetherAndWhatIsServed) {
    SOCKET busy = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {AF_INET, htons(uint16_t(settings.port)), {}, {}};
    ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    const std::string port = std::to_string(settings.port), root = ", access files | root " + settings.root + "\\",
                      inUse = "UDP port " + port + " is in use by another program";
    auto serving = [&](const char* access) { return "UDP port " + port + " | " + access + root; };
    DialogDriver driver;
    Open();
    EXPECT_EQ(driver.opened.at(0).text.rfind("VrelFSPd is not serving: " + inUse + ".\n\nClose the program that uses", 0), 0u);
    EXPECT_EQ(StatusText(Window()), "Not serving: " + inUse + " | UDP port " + port + " (not bound) | uploads only" + root);
    MSG quit; // the window stays
    EXPECT_FALSE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    closesocket(busy);
    driver.Then([](HWND dlg) { Press(dlg, IDOK); }); // the same port, free now
    SendMessageA(Hwnd(), WM_COMMAND, IDM_CONFIG, 0);
    EXPECT_EQ(driver.opened.size(), 2u);
    EXPECT_EQ(StatusText(Window()), serving("uploads only"));
    // Below the band, which keeps its place; the window grew by the bar.
    RECT bar, area, frame;
    GetWindowRect(Window().statusBar, &bar), GetWindowRect(Hwnd(), &frame), GetClientRect(Hwnd(), &area);
    MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&bar), 2);
    EXPECT_TRUE(bar.top >= 160 && bar.bottom == area.bottom && frame.right - frame.left == 362 &&
                frame.bottom - frame.top - 210 == bar.bottom - bar.top) << bar.top << " " << frame.bottom - frame.top;

    SendMessageA(Hwnd(), WM_COMMAND, IDM_READWRITE, 0);
    SendMessageA(Hwnd(), WM_COMMAND, IDM_ACCEPT, 0);
    EXPECT_EQ(StatusText(Window()), "Not serving: Accept Incoming Requests is off | " + serving("read and write"));
    SendMessageA(Hwnd(), WM_COMMAND, IDM_ACCEPT, 0);
    // A root removed while running shows within the check's second, and
    // at once on a refused request; put back, it serves again.
    ASSERT_TRUE(RemoveDirectoryA(settings.root.c_str()));
    const std::string gone = "the root " + settings.root + "\\ does not exist";
    EXPECT_TRUE(PumpUntil([&] { return StatusText(Window()) == "Not serving: " + gone + " | " + serving("read and write"); }, 3000));
    CreateDirectoryA(settings.root.c_str(), nullptr);
    UdpClient client(uint16_t(settings.port));
    client.Send(fsp::CC_GET_FILE, "missing");
    ASSERT_EQ(client.Receive(), fsp::CC_ERR);
    EXPECT_EQ(StatusText(Window()), serving("read and write"));
    window.reset();

    std::vector<std::string> lines; // the server's own, without a client's address
    std::string log = ReadFileText(settings.log);
    for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
        if (log[at + 25] != '[') lines.push_back(log.substr(at + 25, end - at - 25));
    const std::string started = "Serving UDP port " + port + ", root " + settings.root + "\\, ";
    const std::string accept = "Setting changed: Accept Incoming Requests from ";
    EXPECT_EQ(lines, (std::vector<std::string>{"Not serving: " + inUse + " | UDP port " + port + " (not bound) | uploads only" + root,
        started + "uploads only, access files", "Setting changed: Access from uploads only to read and write", accept + "on to off",
        accept + "off to on", "Not serving: " + gone, started + "read and write, access files", "Stopped serving UDP port " + port}));
}
