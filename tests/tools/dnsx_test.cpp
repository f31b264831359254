// The host lookup window on its own thread, with lookups of this machine's own
// names only (localhost, 127.0.0.1) and of names in the .invalid domain, which
// never resolve.
#include "net/shellstate.h"
#include "platform/scratchdir.h"
#include "platform/winsock.h"
#include "support/testwindows.h"
#include "tools/lookup/dnsx.h"
#include "tools/registertools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

using testing_support::waitUntil;
using tools::DNSx;

namespace {

// Boxes and cues as the tool asked for them, bytes unchanged, in their order.
class RecordingFrontEnd : public ui::ConsoleFrontEnd {
public:
    using ui::ConsoleFrontEnd::ConsoleFrontEnd;

    struct Event {
        std::string kind; // "box" or "cue"
        std::string text; // the box's text, or the cue's file
        std::string caption;
        ui::BoxIcon icon = ui::BoxIcon::None;
        ui::BoxButtons buttons = ui::BoxButtons::Ok;
    };

    int messageBox(ui::ToolWindow& window, const ui::BoxRequest& request) override {
        record({"box", request.text, request.caption, request.icon, request.buttons});
        return ui::ConsoleFrontEnd::messageBox(window, request);
    }
    void playSound(ui::ToolWindow* window, const std::string& file) override {
        record({"cue", file, {}, ui::BoxIcon::None, ui::BoxButtons::Ok});
        ui::ConsoleFrontEnd::playSound(window, file);
    }

    std::vector<Event> events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<Event> boxes() const {
        std::vector<Event> out;
        for (const auto& e : events())
            if (e.kind == "box") out.push_back(e);
        return out;
    }

private:
    void record(Event e) {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(e));
    }
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
};

const std::string kBadAddress = "Pogre\x9a"
                                "an IP: ";

// What this machine's resolver calls 127.0.0.1.
std::string localName() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&a), sizeof a, host, sizeof host, nullptr, 0,
                      NI_NAMEREQD) != 0)
        return {};
    return host;
}

struct Lookup : ::testing::Test {
    ScratchDir dir;
    std::FILE* sink = std::tmpfile();
    ui::ConsoleOutput output{sink};
    RecordingFrontEnd frontEnd{output};
    ui::ProcedureRegistry registry;
    std::unique_ptr<ui::Desktop> desktop;
    std::shared_ptr<ui::ToolWindow> window;
    bool socketsStarted = false;

    Lookup() {
        testing_support::ensureQtApplication();
        shell::Sound = 0;
        win::WSADATA data;
        socketsStarted = win::WSAStartup(0x0101, &data) == 0;
        tools::registerTools(registry);
        desktop = std::make_unique<ui::Desktop>(frontEnd, registry);
    }
    ~Lookup() override {
        desktop->closeAll();
        desktop.reset();
        stopSockets();
        shell::Sound = 0;
        std::fclose(sink);
    }
    void stopSockets() {
        if (socketsStarted) win::WSACleanup();
        socketsStarted = false;
    }

    void open(const std::string& ini = {}) {
        if (!ini.empty()) ScratchDir::write("VARlo.INI", ini);
        window = desktop->start("DNSx");
        ASSERT_TRUE(window);
        // The open handler has run once something queued after it has.
        window->invoke([] {}).get();
    }
    void close() {
        window->postClose();
        ASSERT_TRUE(waitUntil([&] { return window->isClosed(); }, 10000));
    }
    void type(int control, const std::string& value) {
        window->invoke([&] { window->applyInput(control, value); }).get();
    }
    bool press(int control) {
        bool done = false;
        window->invoke([&] { done = window->applyPress(control); }).get();
        return done;
    }
    std::vector<RecordingFrontEnd::Event> waitForBoxes(std::size_t n) {
        EXPECT_TRUE(waitUntil([&] { return frontEnd.boxes().size() >= n; }, 20000))
            << "boxes: " << frontEnd.boxes().size();
        return frontEnd.boxes();
    }
    // Both directions idle again: their fields and buttons can be used.
    bool idle() {
        auto& m = window->model();
        return m.enabled(DNSx::IpEntry) && m.enabled(DNSx::NameButton) &&
               m.enabled(DNSx::NameEntry) && m.enabled(DNSx::IpButton);
    }
    static std::string settings() { return ScratchDir::read("VARlo.INI"); }
    static std::string lower(std::string s) {
        for (char& ch : s)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return s;
    }
    static bool holds(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
};

} // namespace

TEST_F(Lookup, SettingsCountOnlyWhenTheAddressKeyHoldsSomethingAndAreWrittenAtClose) {
    struct Case {
        const char* name;
        std::string ini;
        std::string ip;
        std::string host;
    };
    const std::string long90(90, 'n');
    const Case cases[] = {
        {"NoFile", "", "169.254.0.1", "localhost"},
        {"BlankAddressKeepsBothStartValues",
         "[DNS Settings]\r\nIPtoName=   \r\nNametoIP=example.invalid\r\n", "169.254.0.1",
         "localhost"},
        {"AddressWithoutNameEmptiesTheName", "[DNS Settings]\r\nIPtoName=10.1.2.3\r\n", "10.1.2.3",
         ""},
        {"BothKeys", "[dns settings]\r\niptoname=10.1.2.3\r\nnametoip=host.invalid\r\n", "10.1.2.3",
         "host.invalid"},
        {"LongValuesAreCutToTheFields",
         "[DNS Settings]\r\nIPtoName=" + long90 + "\r\nNametoIP=" + long90 + "\r\n",
         long90.substr(0, 45), long90.substr(0, 80)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove("VARlo.INI");
        open(c.ini);
        EXPECT_EQ(window->model().value(DNSx::IpEntry), c.ip);
        EXPECT_EQ(window->model().value(DNSx::NameEntry), c.host);
        close();
        // Keys are matched without case; the file keeps the spelling it had.
        const std::string ini = lower(settings());
        EXPECT_TRUE(holds(ini, lower("IPtoName=" + c.ip + "\r\n"))) << ini;
        EXPECT_TRUE(holds(ini, lower("NametoIP=" + c.host + "\r\n"))) << ini;
    }
}

TEST_F(Lookup, WhatIsTypedIsWrittenAtCloseWithoutTrailingBlanks) {
    open();
    type(DNSx::IpEntry, "10.0.0.7   ");
    type(DNSx::NameEntry, "host.invalid  ");
    close();
    const std::string ini = settings();
    EXPECT_TRUE(holds(ini, "[DNS Settings]\r\nIPtoName=10.0.0.7\r\nNametoIP=host.invalid\r\n"))
        << ini;
}

TEST_F(Lookup, LoopbackAddressGivesTheLocalNameAndIsRemembered) {
    const std::string expected = localName();
    ASSERT_FALSE(expected.empty()) << "this machine has no name for 127.0.0.1";
    open();
    type(DNSx::IpEntry, "127.0.0.1");
    ASSERT_TRUE(press(DNSx::NameButton));
    const auto boxes = waitForBoxes(1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "IP - Name");
    EXPECT_EQ(boxes[0].icon, ui::BoxIcon::Asterisk);
    EXPECT_EQ(boxes[0].buttons, ui::BoxButtons::Ok);
    EXPECT_EQ(boxes[0].text, " Host IP: 127.0.0.1| Hosta name: " + expected);
    EXPECT_TRUE(waitUntil([&] { return idle(); }));
    // Written at the press, not only at close.
    EXPECT_TRUE(holds(settings(), "IPtoName=127.0.0.1\r\n")) << settings();
    // The fields are the user's: a lookup changes neither.
    EXPECT_EQ(window->model().value(DNSx::IpEntry), "127.0.0.1");
    EXPECT_EQ(window->model().value(DNSx::NameEntry), "localhost");
}

TEST_F(Lookup, NamesAreLookedUpWithTheirFirst39Characters) {
    struct Case {
        const char* name;
        std::string typed;
        std::string text;
        ui::BoxIcon icon;
    };
    const std::string invalid50 = std::string(42, 'x') + ".invalid"; // 50 characters
    // Cut to 39, only "localhost" and blanks are left: the cut name resolves.
    const std::string paddedLocal = "localhost" + std::string(30, ' ') + "xxxxxxxxxxx";
    const Case cases[] = {
        {"Localhost", "localhost", " Host IP: 127.0.0.1| Host name: localhost",
         ui::BoxIcon::Asterisk},
        {"TrailingBlanksGo", "localhost    ", " Host IP: 127.0.0.1| Host name: localhost",
         ui::BoxIcon::Asterisk},
        {"UnresolvableName", "ws-dnsx-test.invalid",
         " Host IP: ?| Hosta name: ws-dnsx-test.invalid", ui::BoxIcon::Hand},
        {"FiftyCharactersAreCutTo39", invalid50,
         " Host IP: ?| Hosta name: " + invalid50.substr(0, 39), ui::BoxIcon::Hand},
        {"OnlyTheCutNameIsAsked", paddedLocal, " Host IP: 127.0.0.1| Host name: localhost",
         ui::BoxIcon::Asterisk},
        {"EmptyNameIsAskedToo", "", " Host IP: ?| Hosta name:", ui::BoxIcon::Hand},
    };
    open();
    std::size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        type(DNSx::NameEntry, c.typed);
        ASSERT_TRUE(press(DNSx::IpButton));
        const auto boxes = waitForBoxes(++seen);
        ASSERT_EQ(boxes.size(), seen);
        EXPECT_EQ(boxes.back().caption, "Name - IP");
        EXPECT_EQ(boxes.back().icon, c.icon);
        EXPECT_EQ(boxes.back().text, c.text);
        ASSERT_TRUE(waitUntil([&] { return idle(); }));
        // The whole field is remembered, as typed but for its trailing blanks.
        std::string field = c.typed;
        while (!field.empty() && field.back() == ' ')
            field.pop_back();
        EXPECT_TRUE(holds(settings(), "NametoIP=" + field + "\r\n")) << settings();
    }
}

TEST_F(Lookup, TextThatIsNoAddressIsRefusedAndNotRemembered) {
    open("[DNS Settings]\r\nIPtoName=10.1.1.1\r\nNametoIP=localhost\r\n");
    const std::string before = settings();
    const char* typed[] = {"abc", "10.0.0", "1.2.3.4.5", "0.0.0.0", "   ", "local.host.x.y"};
    std::size_t seen = 0;
    for (const char* text : typed) {
        SCOPED_TRACE(text);
        type(DNSx::IpEntry, text);
        ASSERT_TRUE(press(DNSx::NameButton));
        const auto boxes = waitForBoxes(++seen);
        ASSERT_EQ(boxes.size(), seen);
        std::string shown = text;
        while (!shown.empty() && shown.back() == ' ')
            shown.pop_back();
        // The box's own trailing blank goes with an empty text.
        const std::string expected = shown.empty() ? "Pogre\x9a"
                                                     "an IP:"
                                                   : kBadAddress + shown;
        EXPECT_EQ(boxes.back().text, expected);
        EXPECT_EQ(boxes.back().caption, "");
        EXPECT_EQ(boxes.back().icon, ui::BoxIcon::None);
        EXPECT_TRUE(idle());
    }
    EXPECT_EQ(settings(), before);
    // Nothing was asked of the resolver: no completion follows the refusals.
    window->invoke([] {}).get();
    EXPECT_EQ(frontEnd.boxes().size(), seen);
}

TEST_F(Lookup, BothDirectionsRunAtOnceAndEachShowsItsBox) {
    const std::string expected = localName();
    open();
    type(DNSx::IpEntry, "127.0.0.1");
    type(DNSx::NameEntry, "localhost");
    bool first = false, second = false, again = true;
    window
        ->invoke([&] {
            first = window->applyPress(DNSx::NameButton);
            second = window->applyPress(DNSx::IpButton);
            // A pending direction takes no second request.
            again = window->applyPress(DNSx::NameButton) || window->applyPress(DNSx::IpButton);
        })
        .get();
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
    EXPECT_FALSE(again);
    const auto boxes = waitForBoxes(2);
    ASSERT_EQ(boxes.size(), 2u);
    std::vector<std::string> texts;
    for (const auto& b : boxes) {
        EXPECT_EQ(b.icon, ui::BoxIcon::Asterisk);
        texts.push_back(b.caption + "/" + b.text);
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts,
              (std::vector<std::string>{"IP - Name/ Host IP: 127.0.0.1| Hosta name: " + expected,
                                        "Name - IP/ Host IP: 127.0.0.1| Host name: localhost"}));
    EXPECT_TRUE(waitUntil([&] { return idle(); }));
}

TEST_F(Lookup, PunchSoundsBeforeEachResultOnlyWithTheSoundSwitchOn) {
    for (const std::uint8_t sound : {std::uint8_t(1), std::uint8_t(0)}) {
        SCOPED_TRACE(int(sound));
        shell::Sound = sound;
        const std::size_t from = frontEnd.events().size();
        open();
        type(DNSx::IpEntry, "127.0.0.1");
        type(DNSx::NameEntry, "ws-dnsx-test.invalid");
        ASSERT_TRUE(press(DNSx::NameButton));
        ASSERT_TRUE(waitUntil([&] { return idle(); }, 20000));
        ASSERT_TRUE(press(DNSx::IpButton));
        ASSERT_TRUE(waitUntil([&] { return idle(); }, 20000));
        close();
        std::vector<std::string> kinds;
        const auto events = frontEnd.events();
        for (std::size_t i = from; i < events.size(); ++i)
            kinds.push_back(events[i].kind + " " +
                            (events[i].kind == "cue" ? events[i].text : events[i].caption));
        if (sound)
            EXPECT_EQ(kinds, (std::vector<std::string>{"cue Punch.wav", "box IP - Name",
                                                       "cue Punch.wav", "box Name - IP"}));
        else
            EXPECT_EQ(kinds, (std::vector<std::string>{"box IP - Name", "box Name - IP"}));
    }
}

TEST_F(Lookup, RequestThatCannotStartIsReportedAndTheDirectionFreedAgain) {
    open();
    // Without the sockets layer no lookup can be started.
    stopSockets();
    type(DNSx::IpEntry, "127.0.0.2");
    type(DNSx::NameEntry, "localhost");
    ASSERT_TRUE(press(DNSx::NameButton));
    ASSERT_TRUE(press(DNSx::IpButton));
    const auto boxes = waitForBoxes(2);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "!? 127.0.0.2");
    EXPECT_EQ(boxes[1].text, "!? localhost");
    for (const auto& b : boxes) {
        EXPECT_EQ(b.caption, "");
        EXPECT_EQ(b.icon, ui::BoxIcon::None);
    }
    EXPECT_TRUE(idle());
    // A valid address is remembered even so.
    EXPECT_TRUE(holds(settings(), "IPtoName=127.0.0.2\r\n")) << settings();
    window->invoke([] {}).get();
    EXPECT_EQ(frontEnd.boxes().size(), 2u);
}

TEST_F(Lookup, ClosingWithLookupsUnderWayWritesTheSettingsAndShowsNoResult) {
    open();
    type(DNSx::IpEntry, "127.0.0.1");
    window
        ->invoke([&] {
            window->applyPress(DNSx::NameButton);
            window->applyPress(DNSx::IpButton);
            window->postClose();
        })
        .get();
    ASSERT_TRUE(waitUntil([&] { return window->isClosed(); }, 10000));
    EXPECT_TRUE(frontEnd.boxes().empty());
    EXPECT_TRUE(holds(settings(), "IPtoName=127.0.0.1\r\nNametoIP=localhost\r\n")) << settings();
}
