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

const char kRestart[] = "Changes do not take effect until the daemon is restarted";

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
    ASSERT_EQ(driver.opened.size(), 2u);
    EXPECT_EQ(driver.opened[1].caption, "VrelFSPd");
    EXPECT_EQ(driver.opened[1].text, kRestart);
    EXPECT_EQ(driver.opened[1].owner, driver.opened[0].hwnd); // owned by the dialog
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

// A port that is no number from 1 to 65535 or a root that cannot be
// served is refused with a box; the dialog stays open, nothing is stored.
TEST_F(DialogTest, APortOrRootThatCannotServeIsRefused) {
    const std::pair<int, std::string> refused[] = {{IDC_PORT, "abc"}, {IDC_PORT, "0"}, {IDC_PORT, "65536"},
                                                   {IDC_ROOT, ""},    {IDC_ROOT, "files"},  {IDC_ROOT, "C:\\srv\\..\\x"}};
    Open();
    const std::string held = Window().daemon.rootPath;
    int stayedOpen = 0;
    DialogDriver driver;
    driver.Then([&](HWND dlg) {
        // Shown now rather than when its loop first idles, so that a dialog
        // that ends (and so hides) is told from one that stays.
        ShowWindow(dlg, SW_SHOW);
        for (const auto& [id, typed] : refused) {
            TypeInto(dlg, id, typed);
            SendMessageA(dlg, WM_COMMAND, IDOK, 0); // back once the box is answered
            stayedOpen += IsWindowVisible(dlg) && StoredFlag("FSPPort") == settings.port &&
                          StoredText("RootPath") == settings.root;
            TypeInto(dlg, id, id == IDC_PORT ? std::to_string(settings.port) : held);
        }
        TypeInto(dlg, IDC_PORT, " 65535 ");
        Press(dlg, IDOK);
    });
    EXPECT_EQ(Window().daemon.Configure(), 1);
    EXPECT_EQ(stayedOpen, 6);
    ASSERT_EQ(driver.opened.size(), 8u); // a box for each, then the restart notice
    EXPECT_EQ(driver.opened[1].text, "The port must be a number from 1 to 65535.");
    EXPECT_EQ(driver.opened[5].text.rfind("The server root must be a full path", 0), 0u);
    EXPECT_EQ(StoredFlag("FSPPort"), 65535ul);
    EXPECT_EQ(StoredText("RootPath"), held);
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
        .Then([](HWND dlg) { PressKey(dlg, IDOK, VK_RETURN); });
    for (int i = 0; i < 3; ++i)
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

TEST_F(DialogTest, ALookupOfLoopbackNamesTheHostAndEscapeLeavesTheDialogOpen) {
    Open();
    in_addr loopback;
    loopback.s_addr = inet_addr("127.0.0.1");
    hostent* known = gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, AF_INET);
    ASSERT_NE(known, nullptr);
    std::string expected = known->h_name;

    bool openAfterEscape = false;
    DialogDriver driver;
    driver.Then([&](HWND dlg) {
        TypeInto(dlg, IDC_DNSADDR, "127.0.0.1");
        PressKey(dlg, IDC_DNSADDR, VK_ESCAPE);
        driver.Later(dlg, [&](HWND d) {
            openAfterEscape = IsWindowVisible(d) != 0;
            PressKey(d, IDC_DNSADDR, VK_RETURN);
        });
    });
    EXPECT_NE(Window().daemon.DNSLookup(), nullptr);
    EXPECT_TRUE(openAfterEscape);
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

TEST_F(DialogTest, ClosingTheLookupDialogStartsNoLookup) {
    Open();
    DialogDriver driver;
    driver.Then([](HWND dlg) {
        TypeInto(dlg, IDC_DNSADDR, "127.0.0.1");
        CloseBox(dlg);
    });
    EXPECT_EQ(Window().daemon.DNSLookup(), nullptr);
    // No completion comes: a lookup of loopback answers quickly, so a
    // bye round trip after it would find its box already up.
    UdpClient client(uint16_t(settings.port));
    client.Send(fsp::CC_BYE);
    EXPECT_EQ(client.Receive(), fsp::CC_BYE);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, Hwnd(), WM_FSP_DNS, WM_FSP_DNS, PM_NOREMOVE));
    EXPECT_EQ(driver.opened.size(), 1u);
}
