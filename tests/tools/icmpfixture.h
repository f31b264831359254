#pragma once
// The ping and traceroute windows on their own threads with the console front end,
// in a scratch directory, with the system's ICMP service or a scripted stand-in.
#include "net/shellstate.h"
#include "platform/netnamespace.h"
#include "platform/scratchdir.h"
#include "platform/winsock.h"
#include "support/testwindows.h"
#include "tools/icmp/echoservice.h"
#include "ui/windowmodel.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <mutex>

namespace icmp_testing {

using testing_support::waitUntil;

// Answers each request as its script says and remembers what was asked.
class ScriptedEcho : public tools::EchoService {
public:
    struct Request {
        std::uint32_t destination = 0;
        bool options = false;        // an options block was passed
        bool optionsInReply = false; // ... and it was the reply record's own
        int ttl = 0;
        int tos = 0;
        bool clearedReply = false; // the record held nothing when the request went out
    };
    // Fills the reply for the request; returns the number of replies.
    using Script = std::function<win::DWORD(const Request&, win::EchoReply&)>;

    explicit ScriptedEcho(Script script) : m_script(std::move(script)) {}

    win::DWORD send(win::IPAddr destination, const win::IP_OPTION_INFORMATION* options,
                    win::EchoReply& reply) override {
        Request r;
        r.destination = destination;
        r.options = options != nullptr;
        r.optionsInReply = options == &reply.OPTIONS;
        if (options) {
            r.ttl = options->TTL;
            r.tos = options->TOS;
        }
        r.clearedReply = reply.ADDRESS == 0 && reply.STATUS == 0 && reply.DATA[0] == 0;
        if (m_duringRequest) m_duringRequest();
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(r);
        }
        return m_script(r, reply);
    }

    std::vector<Request> requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    // Runs on the window's thread while a request is out.
    void duringRequest(std::function<void()> fn) { m_duringRequest = std::move(fn); }

private:
    Script m_script;
    std::function<void()> m_duringRequest;
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
};

inline std::uint32_t address(const std::string& dotted) {
    return ::inet_addr(dotted.c_str());
}

struct IcmpFixture : ::testing::Test {
    ScratchDir dir;
    testing_support::CapturedConsole console;
    ui::ProcedureRegistry registry;
    std::unique_ptr<ui::Desktop> desktop;

    IcmpFixture() {
        shell::Sound = 0;
        // The frame starts the sockets layer for the host lookups of the nodes.
        win::WSADATA data;
        win::WSAStartup(0x0101, &data);
        desktop = std::make_unique<ui::Desktop>(console.frontEnd, registry);
    }
    ~IcmpFixture() override {
        desktop->closeAll();
        desktop.reset();
        win::WSACleanup();
    }

    std::shared_ptr<ui::ToolWindow> open(std::unique_ptr<ui::ToolWindow> window) {
        auto w = desktop->start(std::move(window));
        EXPECT_TRUE(w && waitUntil([&] { return w->isOpen(); }));
        // Open counts from the start of the open handler; anything run on the
        // window's thread after that comes after the handler's end.
        if (w) w->invoke([] {}).get();
        return w;
    }

    // Moves the window's thread into `ns`, with `hosts` as its /etc/hosts and a
    // resolver that asks only the namespace's loopback.
    bool enterWithHosts(ui::ToolWindow& w, const NetNamespace& ns, const std::string& hosts) {
        ScratchDir::write(dir.path() / "hosts", hosts);
        ScratchDir::write(dir.path() / "resolv.conf",
                          "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
        bool entered = false;
        w.invoke([&] {
             entered = ns.enterWithHosts((dir.path() / "hosts").string(),
                                         (dir.path() / "resolv.conf").string());
         }).get();
        return entered;
    }

    // Types into the field and presses the button as a person would; returns once
    // the button's handler has run.
    static void typeAndPress(ui::ToolWindow& w, int entry, const std::string& value, int button) {
        w.invoke([&] {
             w.applyInput(entry, value);
             w.applyPress(button);
         }).get();
    }

    void closeWindow(const std::shared_ptr<ui::ToolWindow>& w) {
        w->postClose();
        ASSERT_TRUE(waitUntil([&] { return w->isClosed(); }, 10000));
    }

    // The console lines of one window and event, with the payloads as printed.
    std::vector<std::string> printed(const ui::ToolWindow& w, const std::string& event) {
        const std::string prefix = w.name() + " " + event;
        std::vector<std::string> out;
        for (const auto& line : console.lines()) {
            if (line == prefix)
                out.push_back("");
            else if (line.rfind(prefix + " ", 0) == 0)
                out.push_back(line.substr(prefix.size() + 1));
        }
        return out;
    }
};

} // namespace icmp_testing
