// The configuration, DNS and About dialogs, driven on this thread as the
// operator would use them.
#include <cstring>

#include "../../engine/core/Packet.h"
#include "../../settings/RegistryKey.h"
#include "../../ui/Dialogs.h"
#include "../../ui/Help.h"
#include "../../ui/Main.h"
#include "../../ui/resource.h"
#include "GuiTest.h"

namespace {
using DialogTest = GuiTest;

std::string ItemText(HWND dialog, int id) {
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}
} // namespace

TEST_F(DialogTest, ConfigurationOkWithoutEditsSavesEverythingAndSaysNothing) {
    Open();
    // Stored values the dialog's save must overwrite with the running ones.
    StoreSettings(GuiSettings{1, "elsewhere", "other.log", 0, 0, 0, 0, 0, 0, {}});
    std::string root, port;
    DialogDriver driver;
    driver.Then([&](HWND dlg) {
        root = ItemText(dlg, IDC_ROOT);
        port = ItemText(dlg, IDC_PORT);
        Press(dlg, IDOK);
    });
    EXPECT_EQ(Window().daemon.Configure(), 1);
    EXPECT_EQ(driver.Captions(), std::vector<std::string>{"Server Configuration"});
    EXPECT_EQ(driver.opened[0].owner, Hwnd());
    EXPECT_EQ(root, settings.root + "\\"); // as held, with its backslash
    EXPECT_EQ(port, std::to_string(settings.port));
    EXPECT_EQ(StoredFlag("FSPPort"), settings.port);
    EXPECT_EQ(StoredText("RootPath"), settings.root + "\\");
    EXPECT_EQ(StoredText("LogPath"), settings.log);
    EXPECT_EQ(StoredFlag("Logging"), 1ul);
    EXPECT_EQ(StoredFlag("UploadOnly"), 1ul);
    EXPECT_TRUE(Window().daemon.eventLog.IsOpen());
}

TEST_F(DialogTest, ANewRootServesTheVeryNextRequest) {
    Open();
    std::string newRoot = dir.File("new root");
    CreateDirectoryA(newRoot.c_str(), nullptr);
    DialogDriver driver;
    driver.Then([&](HWND dlg) {
        TypeInto(dlg, IDC_ROOT, newRoot);
        Press(dlg, IDOK);
    });
    EXPECT_EQ(Window().daemon.Configure(), 1);
    EXPECT_EQ(driver.opened.size(), 1u); // no word of a restart: it takes effect at once, and the status says so
    EXPECT_NE(StatusText(Window()).find("| root " + newRoot), std::string::npos) << StatusText(Window());
    // Stored as typed, without a backslash put on.
    EXPECT_EQ(std::string(Window().daemon.rootPath), newRoot);
    EXPECT_EQ(StoredText("RootPath"), newRoot);

    UdpClient client(uint16_t(settings.port));
    client.Send(fsp::CC_MAKE_DIR, "made");
    std::string text;
    EXPECT_EQ(client.Receive(&text), fsp::CC_MAKE_DIR) << text;
    EXPECT_TRUE(FileExists(newRoot + "\\made"));
    EXPECT_FALSE(FileExists(dir.File("root\\made")));
    EXPECT_FALSE(FileExists(dir.File("new rootmade")));
}

// A port that is no number from 1 to 65535 or cannot be bound, or a root
// that cannot be served (no full path, missing, a file, the upload
// folder), is refused with a box; the dialog stays open, nothing is
// stored, and the port bound serves on. A port that binds is bound at once.
TEST_F(DialogTest, APortOrRootThatCannotServeIsRefusedAndANewPortBindsAtOnce) {
    WriteFileText(dir.File("file"), "a file");
    char uploads[MAX_PATH]; // made at the bind
    GetFullPathNameA(fsp::kUploadFolder, sizeof(uploads), uploads, nullptr);
    SOCKET busy = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {AF_INET, htons(FreeUdpPort()), {}, {}};
    ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0); // another program's
    const std::string inUse = std::to_string(ntohs(a.sin_port)), number = "The port must be a number from 1 to 65535.",
                      path = "The server root must be a full path", root = "This root cannot be served: the root ";
    const struct { int id; std::string typed, told; } refused[] = {{IDC_PORT, "abc", number}, {IDC_PORT, "0", number},
        {IDC_PORT, "65536", number}, {IDC_PORT, inUse, "UDP port " + inUse + " is in use by another program. UDP port " +
                                     std::to_string(settings.port) + " stays bound and serves.\n\nClose the program"},
        {IDC_ROOT, "", path}, {IDC_ROOT, "files", path}, {IDC_ROOT, "C:\\srv\\..\\x", path},
        {IDC_ROOT, dir.File("missing"), root + dir.File("missing") + " does not exist."},
        {IDC_ROOT, dir.File("file"), root + dir.File("file") + " is a file"}, {IDC_ROOT, uploads, root + uploads + " lies in"}};
    Open();
    const std::string held = Window().daemon.rootPath;
    const uint16_t next = FreeUdpPort();
    int stayedOpen = 0;
    DialogDriver driver;
    driver.Then([&](HWND dlg) {
        // Shown now rather than when its loop first idles, so that a dialog
        // that ends (and so hides) is told from one that stays.
        ShowWindow(dlg, SW_SHOW);
        for (const auto& r : refused) {
            TypeInto(dlg, r.id, r.typed);
            SendMessageA(dlg, WM_COMMAND, IDOK, 0); // back once the box is answered
            stayedOpen += IsWindowVisible(dlg) && StoredFlag("FSPPort") == settings.port &&
                          StoredText("RootPath") == settings.root;
            TypeInto(dlg, r.id, r.id == IDC_PORT ? std::to_string(settings.port) : held);
        }
        TypeInto(dlg, IDC_PORT, " " + std::to_string(next) + " ");
        Press(dlg, IDOK);
    });
    EXPECT_EQ(Window().daemon.Configure(), 1);
    closesocket(busy);
    EXPECT_EQ(stayedOpen, 10);
    ASSERT_EQ(driver.opened.size(), 11u); // a box for each, no restart notice
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(driver.opened[i + 1].text.rfind(refused[i].told, 0), 0u) << driver.opened[i + 1].text;
    EXPECT_EQ(StoredFlag("FSPPort"), next);
    EXPECT_EQ(StoredText("RootPath"), held);
    UdpClient client(next); // served on the new port at once
    client.Send(fsp::CC_BYE);
    EXPECT_EQ(client.Receive(), fsp::CC_BYE);
    EXPECT_EQ(StatusText(Window()).rfind("UDP port " + std::to_string(next) + " | uploads only, access files | root ", 0), 0u);
}

TEST_F(DialogTest, CancelAndTheCloseBoxStoreNothing) {
    Open();
    StoreSettings(GuiSettings{1, "elsewhere", "other.log", 0, 0, 0, 0, 0, 0, {}});
    char heldRoot[MAX_PATH];
    std::strcpy(heldRoot, Window().daemon.rootPath);
    DialogDriver driver;
    driver
        .Then([](HWND dlg) {
            TypeInto(dlg, IDC_ROOT, "Z:\\nowhere");
            Press(dlg, IDCANCEL);
        })
        .Then([](HWND dlg) {
            TypeInto(dlg, IDC_PORT, "99");
            PressKey(dlg, IDC_PORT, VK_ESCAPE);
        })
        .Then([](HWND dlg) {
            TypeInto(dlg, IDC_ROOT, "Z:\\nowhere");
            CloseBox(dlg);
        });
    EXPECT_EQ(Window().daemon.Configure(), 1);
    EXPECT_EQ(Window().daemon.Configure(), 1);
    EXPECT_EQ(Window().daemon.Configure(), 0);
    EXPECT_EQ(driver.opened.size(), 3u); // no box about changes
    EXPECT_STREQ(Window().daemon.rootPath, heldRoot);
    EXPECT_EQ(Window().daemon.port, int(settings.port));
    EXPECT_EQ(StoredFlag("FSPPort"), 1ul);
}

TEST_F(DialogTest, TheMenuAndCommand800OpenTheirDialogs) {
    Open();
    DialogDriver driver;
    for (int i = 0; i < 2; ++i) driver.Then([](HWND dlg) { Press(dlg, IDCANCEL); });
    driver.Then([](HWND dlg) { CloseBox(dlg); });
    driver.Then([](HWND dlg) { Press(dlg, IDOK); });
    SendMessageA(Hwnd(), WM_COMMAND, IDM_CONFIG, 0);
    SendMessageA(Hwnd(), WM_COMMAND, IDM_TEST, 0);
    SendMessageA(Hwnd(), WM_COMMAND, IDM_DNS, 0);
    SendMessageA(Hwnd(), WM_COMMAND, IDM_ABOUT, 0);
    EXPECT_EQ(driver.Captions(), (std::vector<std::string>{"Server Configuration", "Server Configuration",
                                                           "Domain Name System Lookup", "About"}));
    for (const auto& o : driver.opened) EXPECT_EQ(o.owner, Hwnd()) << o.caption;
}

TEST_F(DialogTest, TheAboutBoxShowsItsIconsAndEndsWithOne) {
    Open();
    int icons = 0;
    DialogDriver driver;
    driver
        .Then([&](HWND dlg) {
            for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && SendMessageA(c, STM_GETICON, 0, 0))
                    ++icons;
            Press(dlg, IDOK);
        })
        .Then([](HWND dlg) { CloseBox(dlg); })
        .Then([](HWND dlg) { PressKey(dlg, IDOK, VK_RETURN); })
        .Then([](HWND dlg) { PressKey(dlg, IDOK, VK_ESCAPE); });
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(DialogBoxParamA(Main::hInstance, "ABOUT_DIALOG", Hwnd(), AboutDlgProc, 0), 1);
    EXPECT_EQ(icons, 2);
}

// No viewer opens on a help file that is not there: a box says where it
// was looked for.
TEST_F(DialogTest, AMissingHelpFileIsToldWithWhereItWasLookedFor) {
    Open();
    DialogDriver driver;
    ShowHelp(Hwnd(), dir.File("VFSPD.CHM").c_str());
    ASSERT_EQ(driver.opened.size(), 1u);
    EXPECT_NE(driver.opened[0].text.find(dir.File("VFSPD.CHM")), std::string::npos) << driver.opened[0].text;
}

TEST_F(DialogTest, ALookupOfLoopbackNamesTheHost) {
    Open();
    in_addr loopback;
    loopback.s_addr = inet_addr("127.0.0.1");
    hostent* known = gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, AF_INET);
    ASSERT_NE(known, nullptr);
    std::string expected = known->h_name;

    DialogDriver driver;
    driver.Then([&](HWND dlg) {
        TypeInto(dlg, IDC_DNSADDR, "127.0.0.1");
        PressKey(dlg, IDC_DNSADDR, VK_RETURN);
    });
    EXPECT_NE(Window().daemon.DNSLookup(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return driver.opened.size() == 2; }, 30000));
    EXPECT_EQ(driver.opened[1].caption, "DNS Lookup");
    EXPECT_EQ(driver.opened[1].text, expected);
    EXPECT_EQ(driver.opened[1].owner, Hwnd());
}

TEST_F(DialogTest, TextThatIsNoAddressCannotBeResolved) {
    Open();
    DialogDriver driver;
    DWORD pressed = 0;
    for (const char* typed : {"no such host", "127.0.0.77"})
        driver.Then([&, typed](HWND dlg) {
            TypeInto(dlg, IDC_DNSADDR, typed);
            pressed = GetTickCount();
            Press(dlg, IDOK);
        });
    for (size_t opened : {2u, 4u}) {
        EXPECT_NE(Window().daemon.DNSLookup(), nullptr); // started all the same
        // The window's thread goes back to its messages at once, whatever
        // the name service takes.
        EXPECT_LT(GetTickCount() - pressed, 100ul);
        ASSERT_TRUE(PumpUntil([&] { return driver.opened.size() == opened; }, 60000));
        EXPECT_EQ(driver.opened[opened - 1].caption, "DNS Lookup");
        EXPECT_EQ(driver.opened[opened - 1].text, "Unable to resolve name");
    }
}

// A stored rule that cannot be read fails closed and is told at start; the
// Hosts dialog refuses a bad rule with its reason and stores good ones.
TEST_F(DialogTest, HostsTellsABadRuleAndStoresTheTableOnceItReads) {
    settings.hosts = {"10.0.0.1 N", "10.0.0.300 N"};
    DialogDriver driver;
    Open();
    ASSERT_EQ(driver.opened.size(), 1u);
    EXPECT_NE(driver.opened[0].text.find("Rule 2 \"10.0.0.300 N\": each part of an address"), std::string::npos)
        << driver.opened[0].text;
    EXPECT_TRUE(Window().daemon.hostTable.Closed());
    EXPECT_EQ(Window().daemon.hostsError.rfind("Rule 2", 0), 0u);
    bool stayedOpen = false;
    driver.Then([&](HWND dlg) {
        EXPECT_EQ(ItemText(dlg, IDC_HOSTS), "10.0.0.1 N\r\n10.0.0.300 N\r\n");
        TypeInto(dlg, IDC_HOSTS, "127.0.0.5 D Go away\r10.0.0.0/8 X"); // Enter between
        SendMessageA(dlg, WM_COMMAND, IDOK, 0); // back once the box is answered
        stayedOpen = IsWindowVisible(dlg) != 0;
        TypeInto(dlg, IDC_HOSTS, "127.0.0.5 D Go away\r\r10.0.0.0/8 I\r");
        Press(dlg, IDOK);
    });
    SendMessageA(Hwnd(), WM_COMMAND, IDM_HOSTS, 0);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(driver.opened.size(), 3u); // the box at start, the dialog, its refusal
    EXPECT_EQ(driver.opened[1].caption, "Hosts");
    EXPECT_EQ(driver.opened[2].text, "Rule 2 \"10.0.0.0/8 X\": the type after the address must be N (serve), "
                                     "I (ignore) or D (deny).");
    EXPECT_FALSE(Window().daemon.hostTable.Closed());
    EXPECT_TRUE(Window().daemon.hostsError.empty());
    RegistryKey key("SOFTWARE\\Quorvane\\VrelFSPd\\Server");
    std::vector<std::string> stored;
    ASSERT_TRUE(key.GetMultiString("Hosts", &stored));
    EXPECT_EQ(stored, (std::vector<std::string>{"127.0.0.5 D Go away", "10.0.0.0/8 I"}));
}

TEST_F(DialogTest, ClosingCancellingOrEscapingTheLookupDialogStartsNoLookup) {
    Open();
    DialogDriver driver;
    driver.Then([](HWND dlg) {
        TypeInto(dlg, IDC_DNSADDR, "127.0.0.1");
        CloseBox(dlg);
    });
    driver.Then([](HWND dlg) { PressKey(dlg, IDC_DNSADDR, VK_ESCAPE); }).Then([](HWND dlg) { Press(dlg, IDCANCEL); });
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Window().daemon.DNSLookup(), nullptr);
    // No completion comes: a lookup of loopback answers quickly, so a
    // bye round trip after it would find its box already up.
    UdpClient client(uint16_t(settings.port));
    client.Send(fsp::CC_BYE);
    EXPECT_EQ(client.Receive(), fsp::CC_BYE);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, Hwnd(), WM_FSP_DNS, WM_FSP_DNS, PM_NOREMOVE));
    EXPECT_EQ(driver.opened.size(), 3u);
}
