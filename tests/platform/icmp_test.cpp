#include "platform/icmp.h"

#include "icmpnetwork.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <thread>
#include <vector>

namespace {

constexpr char kEchoData[] = "01234567890123456789012345678901";

struct Sent {
    win::DWORD replies = 0;
    win::EchoReply reply;
    win::IcmpSocketKind kind = win::IcmpSocketKind::None;
    long long milliseconds = 0;
};

Sent sendEcho(std::uint32_t destination, std::uint8_t ttl = 0, const char* data = kEchoData) {
    Sent s;
    win::IP_OPTION_INFORMATION options;
    options.TTL = ttl;
    const auto start = std::chrono::steady_clock::now();
    s.replies = win::IcmpSendEcho(win::IcmpCreateFile(), destination, data,
                                  static_cast<win::WORD>(std::strlen(data)), &options, &s.reply,
                                  sizeof s.reply, 200);
    s.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
    s.kind = win::IcmpLastSocketKind();
    return s;
}

// Runs `work` on a thread of its own that has entered the namespace.
template <typename Result>
Result inNamespace(const NetNamespace& ns, const std::function<Result()>& work) {
    std::packaged_task<Result()> task([&] {
        if (!ns.enter()) throw std::runtime_error("setns " + ns.name());
        return work();
    });
    auto result = task.get_future();
    std::thread(std::move(task)).join();
    return result.get();
}

std::string dotted(std::uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    return ::inet_ntoa(a);
}

} // namespace

TEST(IcmpEcho, LoopbackAnswersWithTheEchoedData) {
    const Sent s = sendEcho(IcmpNetwork::address("127.0.0.1"));
    ASSERT_EQ(s.replies, 1u);
    EXPECT_EQ(s.reply.STATUS, win::IP_SUCCESS);
    EXPECT_EQ(dotted(s.reply.ADDRESS), "127.0.0.1");
    EXPECT_EQ(s.reply.DATASIZE, 32u);
    EXPECT_EQ(s.reply.DATAPOINTER, 28u);
    EXPECT_EQ(std::string(s.reply.DATA), kEchoData);
    EXPECT_LT(s.reply.ROUNDTRIPTIME, 200u);
    EXPECT_GT(s.reply.OPTIONS.TTL, 0);
}

TEST(IcmpEcho, RequestsTheServiceCannotSendAreRefusedWithTheirStatus) {
    win::EchoReply reply;
    win::IP_OPTION_INFORMATION withIpOptions;
    withIpOptions.OPTIONSSIZE = 4;
    const std::uint32_t loopback = IcmpNetwork::address("127.0.0.1");
    int dummy = 0;
    struct Case {
        const char* what;
        win::HANDLE handle;
        std::uint32_t destination;
        const void* data;
        win::IP_OPTION_INFORMATION* options;
        win::DWORD replySize;
        win::DWORD status;
    };
    const Case cases[] = {
        {"reply room below the data", win::IcmpCreateFile(), loopback, kEchoData, nullptr, 28 + 31,
         win::IP_BUF_TOO_SMALL},
        {"no data", win::IcmpCreateFile(), loopback, nullptr, nullptr, 278, win::IP_BAD_REQ},
        {"address 0", win::IcmpCreateFile(), 0, kEchoData, nullptr, 278, win::IP_BAD_DESTINATION},
        {"IP options", win::IcmpCreateFile(), loopback, kEchoData, &withIpOptions, 278,
         win::IP_BAD_OPTION},
        {"not a handle of ours", &dummy, loopback, kEchoData, nullptr, 278,
         win::IP_GENERAL_FAILURE},
    };
    for (const auto& c : cases) {
        std::memset(static_cast<void*>(&reply), 0xAA, sizeof reply);
        EXPECT_EQ(win::IcmpSendEcho(c.handle, c.destination, c.data, 32, c.options, &reply,
                                    c.replySize, 200),
                  0u)
            << c.what;
        EXPECT_EQ(reply.STATUS, c.status) << c.what;
        EXPECT_EQ(reply.ADDRESS, 0u) << c.what;
    }
    // Too small for the record itself: nothing is written past the buffer.
    char tiny[8];
    std::memset(tiny, 0x55, sizeof tiny);
    EXPECT_EQ(win::IcmpSendEcho(win::IcmpCreateFile(), loopback, kEchoData, 32, nullptr, tiny,
                                sizeof tiny, 200),
              0u);
    EXPECT_EQ(tiny[0], 0x55);
}

TEST(Icmp6Echo, LoopbackAnswersAfterTheReplyHeadAndRefusalsCarryTheirStatus) {
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    sockaddr_in6 unspecified = loopback;
    unspecified.sin6_addr = in6addr_any;
    int event = 0;
    struct Case {
        const char* what;
        win::HANDLE handle;
        win::HANDLE event;
        const sockaddr_in6* destination;
        win::DWORD replySize;
        win::DWORD replies;
        win::DWORD status;
    };
    const Case cases[] = {
        {"::1", win::Icmp6CreateFile(), nullptr, &loopback, 36 + 32, 1, win::IP_SUCCESS},
        {"an IPv4 handle", win::IcmpCreateFile(), nullptr, &loopback, 286, 0,
         win::IP_GENERAL_FAILURE},
        {"an event to signal", win::Icmp6CreateFile(), &event, &loopback, 286, 0,
         win::IP_GENERAL_FAILURE},
        {"reply room below the data", win::Icmp6CreateFile(), nullptr, &loopback, 36 + 31, 0,
         win::IP_BUF_TOO_SMALL},
        {"no address", win::Icmp6CreateFile(), nullptr, &unspecified, 286, 0,
         win::IP_BAD_DESTINATION},
    };
    for (const auto& c : cases) {
        win::Echo6Reply reply;
        std::memset(static_cast<void*>(&reply), 0xAA, sizeof reply);
        EXPECT_EQ(win::Icmp6SendEcho2(c.handle, c.event, nullptr, nullptr, nullptr, c.destination,
                                      kEchoData, 32, nullptr, &reply, c.replySize, 200),
                  c.replies)
            << c.what;
        EXPECT_EQ(reply.REPLY.Status, c.status) << c.what;
        const bool answered = c.replies == 1;
        EXPECT_EQ(std::memcmp(reply.REPLY.Address.sin6_addr, &in6addr_loopback, 16) == 0, answered)
            << c.what;
        if (answered) {
            EXPECT_EQ(std::string(reply.DATA, 32), kEchoData);
            EXPECT_LT(reply.REPLY.RoundTripTime, 200u);
        }
    }
}

class IcmpPath : public ::testing::TestWithParam<win::IcmpSocketKind> {
protected:
    void SetUp() override {
        network = std::make_unique<IcmpNetwork>(
            GetParam() == win::IcmpSocketKind::Ping ? "0 2147483647" : "1 0");
        if (!network->ready()) GTEST_SKIP() << "network namespaces cannot be made here";
    }
    std::unique_ptr<IcmpNetwork> network;
};

TEST_P(IcmpPath, EachOutcomeOfARequestArrivesAsItsStatus) {
    struct Case {
        const char* destination;
        std::uint8_t ttl;
        win::DWORD replies;
        win::DWORD status;
        const char* from; // "0.0.0.0" when nobody answered
    };
    const Case cases[] = {
        {IcmpNetwork::Target, 0, 1, win::IP_SUCCESS, IcmpNetwork::Target},
        {IcmpNetwork::Target, 1, 1, win::IP_TTL_EXPIRED_TRANSIT, IcmpNetwork::Router1},
        {IcmpNetwork::Target, 2, 1, win::IP_TTL_EXPIRED_TRANSIT, IcmpNetwork::Router2},
        {IcmpNetwork::Target, 3, 1, win::IP_SUCCESS, IcmpNetwork::Target},
        {IcmpNetwork::Unreachable, 0, 1, win::IP_DEST_HOST_UNREACHABLE, IcmpNetwork::Router2},
        {IcmpNetwork::NoRoute, 0, 1, win::IP_DEST_NET_UNREACHABLE, IcmpNetwork::Router2},
        {IcmpNetwork::Blackhole, 0, 0, win::IP_REQ_TIMED_OUT, "0.0.0.0"},
    };
    const auto results = inNamespace<std::vector<Sent>>(network->host, [&] {
        std::vector<Sent> out;
        for (const auto& c : cases)
            out.push_back(sendEcho(IcmpNetwork::address(c.destination), c.ttl));
        // The options block may be the reply record's own: its TTL still counts.
        Sent aliased;
        aliased.reply.OPTIONS.TTL = 2;
        aliased.replies = win::IcmpSendEcho(
            win::IcmpCreateFile(), IcmpNetwork::address(IcmpNetwork::Target), kEchoData, 32,
            &aliased.reply.OPTIONS, &aliased.reply, sizeof aliased.reply, 200);
        out.push_back(aliased);
        return out;
    });
    ASSERT_EQ(results.size(), std::size(cases) + 1);
    EXPECT_EQ(results.back().replies, 1u);
    EXPECT_EQ(results.back().reply.STATUS, win::IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(dotted(results.back().reply.ADDRESS), IcmpNetwork::Router2);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const Sent& s = results[i];
        const std::string what = std::string(c.destination) + " ttl " + std::to_string(c.ttl);
        EXPECT_EQ(s.kind, GetParam()) << what;
        EXPECT_EQ(s.replies, c.replies) << what;
        EXPECT_EQ(s.reply.STATUS, c.status) << what;
        EXPECT_EQ(dotted(s.reply.ADDRESS), c.from) << what;
        if (c.status == win::IP_SUCCESS) {
            EXPECT_EQ(std::string(s.reply.DATA), kEchoData) << what;
        } else {
            EXPECT_EQ(s.reply.DATASIZE, 0u) << what;
        }
        if (c.replies == 0) {
            EXPECT_GE(s.milliseconds, 199) << what;
            EXPECT_LT(s.milliseconds, 1000) << what;
        }
    }
}

TEST_P(IcmpPath, ConcurrentRequestsEachSeeOnlyTheirOwnAnswer) {
    constexpr int kThreads = 6;
    constexpr int kRequests = 15;
    const auto mismatches = inNamespace<int>(network->host, [&] {
        std::atomic<int> bad{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                if (!network->host.enter()) {
                    bad += kRequests;
                    return;
                }
                // Odd threads ask the routers, even ones the target: errors and
                // replies for others arrive in between.
                for (int i = 0; i < kRequests; ++i) {
                    const std::string data =
                        "thread " + std::to_string(t) + " request " + std::to_string(i);
                    const Sent s = sendEcho(IcmpNetwork::address(IcmpNetwork::Target),
                                            t % 2 ? 1 : 0, data.c_str());
                    const bool good = s.replies == 1 &&
                                      (t % 2 ? s.reply.STATUS == win::IP_TTL_EXPIRED_TRANSIT &&
                                                   dotted(s.reply.ADDRESS) == IcmpNetwork::Router1
                                             : s.reply.STATUS == win::IP_SUCCESS &&
                                                   std::string(s.reply.DATA) == data);
                    if (!good) ++bad;
                }
            });
        for (auto& t : threads)
            t.join();
        return bad.load();
    });
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(Sockets, IcmpPath,
                         ::testing::Values(win::IcmpSocketKind::Ping, win::IcmpSocketKind::Raw),
                         [](const auto& info) {
                             return info.param == win::IcmpSocketKind::Ping ? "PingSocket"
                                                                            : "RawSocket";
                         });

TEST(IcmpEcho, WithoutAnyIcmpSocketEveryRequestSaysGeneralFailure) {
    NetNamespace ns("x");
    if (!ns.made() || !ns.sysctl("net.ipv4.ping_group_range=\"1 0\""))
        GTEST_SKIP() << "network namespaces cannot be made here";
    const auto s = inNamespace<Sent>(ns, [] {
        // This thread alone gives up raw sockets.
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (::syscall(SYS_capget, &header, data) != 0) throw std::runtime_error("capget");
        data[0].effective &= ~(1U << CAP_NET_RAW);
        data[0].permitted &= ~(1U << CAP_NET_RAW);
        if (::syscall(SYS_capset, &header, data) != 0) throw std::runtime_error("capset");
        return sendEcho(IcmpNetwork::address("127.0.0.1"));
    });
    EXPECT_EQ(s.replies, 0u);
    EXPECT_EQ(s.reply.STATUS, win::IP_GENERAL_FAILURE);
    EXPECT_EQ(s.kind, win::IcmpSocketKind::None);
}
