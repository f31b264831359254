#include "settings/placementstore.h"

#include "platform/scratchdir.h"
#include "settings/fakewindow.h"
#include "settings/settingsfile.h"
#include "support/filewatch.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;
constexpr const char* StoreFile = ".\\VarLO.ini";

TEST(UpdatePlacement, WritesWhatTheWindowStateAllows) {
    struct Case {
        const char* what;
        bool minimized, maximized, resizable;
        std::string section; // the section written, from a fresh file
    } cases[] = {
        {"a normal window", false, false, true,
         "[WS_TcpB]\r\nMaximize=No\r\nXPos=10\r\nYPos=-20\r\nHeight=300\r\nWidth=400\r\n"},
        {"a maximised window only says so", false, true, true, "[WS_TcpB]\r\nMaximize=Yes\r\n"},
        {"a fixed-size window keeps its size", false, false, false,
         "[WS_TcpB]\r\nMaximize=No\r\nXPos=10\r\nYPos=-20\r\n"},
        {"a minimised window writes nothing", true, false, true, ""},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        {
            PlacementStore store(StoreFile);
            FakeWindow w;
            w.minimized = c.minimized, w.maximized = c.maximized, w.resizable = c.resizable;
            w.px = 10, w.py = -20, w.pw = 400, w.ph = 300;
            store.UpdatePlacement("WS_TcpB", w);
            EXPECT_EQ(ScratchDir::read("VARlo.INI"), c.section) << c.what;
        }
    }
}

TEST(UpdatePlacement, AMaximisedCloseKeepsTheEarlierPlacement) {
    ScratchDir dir;
    PlacementStore store(StoreFile);
    FakeWindow w;
    w.px = 5, w.py = 6, w.pw = 70, w.ph = 80;
    store.UpdatePlacement("Ping_ip", w);
    w.maximized = true;
    w.px = w.py = w.pw = w.ph = 0;
    store.UpdatePlacement("Ping_ip", w);

    FakeWindow next;
    store.FetchPlacement("Ping_ip", next);
    EXPECT_EQ(next.calls, (Calls{"x=5", "y=6", "width=70", "height=80", "maximized=1"}));
}

TEST(FetchPlacement, AppliesTheSavedPlacement) {
    struct Case {
        const char* what;
        std::string section; // the file's section "Tool"
        bool maximizedNow, resizable;
        Calls calls;
    } cases[] = {
        {"normal",
         "Maximize=No\nXPos=1\nYPos=2\nWidth=3\nHeight=4\n",
         false,
         true,
         {"x=1", "y=2", "width=3", "height=4"}},
        {"a fixed size is kept",
         "Maximize=No\nXPos=1\nYPos=2\nWidth=3\nHeight=4\n",
         false,
         false,
         {"x=1", "y=2"}},
        {"a window opened maximised is restored first",
         "Maximize=No\nXPos=1\nYPos=2\nWidth=3\nHeight=4\n",
         true,
         true,
         {"restore", "x=1", "y=2", "width=3", "height=4"}},
        {"saved maximised",
         "Maximize=Yes\nXPos=1\nYPos=2\nWidth=3\nHeight=4\n",
         false,
         true,
         {"x=1", "y=2", "width=3", "height=4", "maximized=1"}},
        {"saved maximised and already so",
         "Maximize=Yes\nXPos=1\nYPos=2\n",
         true,
         false,
         {"x=1", "y=2"}},
        {"no Maximize restores nothing", "XPos=1\nYPos=2\nWidth=3\nHeight=4\n", true, true, {}},
        {"another Maximize restores nothing", "Maximize=yes\nXPos=1\n", false, true, {}},
        {"a blank XPos leaves the position",
         "Maximize=Yes\nXPos=  \nYPos=2\n",
         false,
         true,
         {"maximized=1"}},
        {"missing keys read as 0",
         "Maximize=No\nXPos=7\n",
         false,
         true,
         {"x=7", "y=0", "width=0", "height=0"}},
        {"numbers as Windows reads them",
         "Maximize=No\nXPos=-12px\nYPos=abc\nWidth= 30\n",
         false,
         true,
         {"x=-12", "y=0", "width=30", "height=0"}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        ScratchDir::write("VARlo.INI", "[Other]\nMaximize=No\nXPos=99\n[Tool]\n" + c.section);
        PlacementStore store(StoreFile);
        FakeWindow w;
        w.maximized = c.maximizedNow, w.resizable = c.resizable;
        store.FetchPlacement("tool", w);
        EXPECT_EQ(w.calls, c.calls) << c.what;
    }
}

TEST(PlacementStore, WritesBackTheSavedList) {
    struct Case {
        const char* what;
        std::string before; // the section's body
        std::vector<PlacementStore::Entry> entries;
        std::string after;
    } cases[] = {
        {"no file", "", {}, "Sectors=0\r\n"},
        {"entries of one to four fields",
         "Sectors=3\nSectors_1=a,b,c\nSectors_2=x\nSectors_3=p,q,r,s\n",
         {{"a", "b", "c"}, {"x", "", ""}, {"p", "q", "r"}},
         "Sectors=3\nSectors_1=a,b,c\nSectors_2=x,,\r\nSectors_3=p,q,r\r\n"},
        {"a field is cut to 100",
         "Sectors=1\nSectors_1=" + std::string(120, 'f') + ",b\n",
         {{std::string(100, 'f'), "b", ""}},
         "Sectors=1\nSectors_1=" + std::string(100, 'f') + ",b,\r\n"},
        {"no count reads as none", "Sectors_1=a,b,c\n", {}, "Sectors_1=a,b,c\nSectors=0\r\n"},
        {"a count beyond the keys gives empty entries",
         "Sectors=2\nSectors_1=a,b,c\n",
         {{"a", "b", "c"}, {"", "", ""}},
         "Sectors=2\nSectors_1=a,b,c\nSectors_2=,,\r\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        if (!c.before.empty()) ScratchDir::write("VARlo.INI", "[__Dont_Touch_Me__]\n" + c.before);
        {
            PlacementStore store(StoreFile);
            EXPECT_EQ(store.entries(), c.entries) << c.what;
        }
        EXPECT_EQ(ScratchDir::read("VARlo.INI"),
                  "[__Dont_Touch_Me__]" + std::string(c.before.empty() ? "\r\n" : "\n") + c.after)
            << c.what;
    }
}

// A hostile count: at most 1,000 entries are taken, and the list and a window's
// placement are each written back in one replacement of the file.
TEST(PlacementStore, ALongSavedListIsCutAndEachGroupIsOneReplacement) {
    ScratchDir dir;
    std::string body = "[__Dont_Touch_Me__]\nSectors=10000\n";
    for (int i = 1; i <= 10000; ++i)
        body += "Sectors_" + std::to_string(i) + "=e" + std::to_string(i) + ",f,g\n";
    ScratchDir::write("VARlo.INI", body);
    {
        PlacementStore store(StoreFile);
        ASSERT_EQ(store.entries().size(), 1000u);
        EXPECT_EQ(store.entries().back(), (PlacementStore::Entry{"e1000", "f", "g"}));
        FakeWindow w;
        w.px = 5, w.py = 6, w.pw = 70, w.ph = 80;
        EXPECT_EQ(
            testing_support::replacementsOf("VARlo.INI", [&] { store.UpdatePlacement("Tool", w); }),
            1);
        FakeWindow restored;
        store.FetchPlacement("tool", restored);
        EXPECT_EQ(restored.calls, (Calls{"x=5", "y=6", "width=70", "height=80"}));
        EXPECT_EQ(testing_support::replacementsOf("VARlo.INI", [&] { store.close(); }), 1);
    }
    EXPECT_EQ(ReadSetting("__Dont_Touch_Me__", "Sectors", ""), "1000");
    EXPECT_EQ(ReadSetting("__Dont_Touch_Me__", "Sectors_1000", ""), "e1000,f,g");
}

TEST(PlacementStore, ClosesOnce) {
    ScratchDir dir;
    PlacementStore store(StoreFile);
    store.close();
    EXPECT_EQ(ReadSetting("__Dont_Touch_Me__", "Sectors", "missing"), "0");
    std::filesystem::remove("VARlo.INI");
    store.close();
    EXPECT_FALSE(std::filesystem::exists("VARlo.INI"));
}

} // namespace
