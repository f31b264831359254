// Echo requests answered per second by the ICMP echo service: to ::1 through
// Icmp6SendEcho2 against 127.0.0.1 through IcmpSendEcho, in the same run, rounds
// alternating which family goes first. Each request is a whole call as the ping
// window makes it (a socket of its own, the send, the wait for the answer). Prints
// each family's median rate and the median of the per-round ratios IPv6 / IPv4
// with their spread (lowest, highest). Goal: at least 0.9.
#include "benchstats.h"
#include "platform/icmp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <arpa/inet.h>

namespace {

using bench::median;

constexpr char kData[] = "01234567890123456789012345678901";

// Requests answered per second over `count` requests; 0 when one went unanswered.
template <class Send> double rate(int count, Send send) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        if (send() != 1) return 0;
    return count / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 21;
    const int perRound = argc > 2 ? std::atoi(argv[2]) : 2000;
    const win::IPAddr v4 = ::inet_addr("127.0.0.1");
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    const auto ping4 = [&] {
        win::EchoReply reply;
        return win::IcmpSendEcho(win::IcmpCreateFile(), v4, kData, 32, nullptr, &reply,
                                 sizeof reply, 1000);
    };
    const auto ping6 = [&] {
        win::Echo6Reply reply;
        return win::Icmp6SendEcho2(win::Icmp6CreateFile(), nullptr, nullptr, nullptr, nullptr, &v6,
                                   kData, 32, nullptr, &reply, sizeof reply, 1000);
    };
    if (ping4() != 1 || ping6() != 1) {
        std::printf("echo6_bench: 127.0.0.1 or ::1 does not answer (no ICMP socket, or no ::1)\n");
        return 1;
    }
    std::vector<double> rates4, rates6, ratios;
    for (int r = 0; r < rounds; ++r) {
        double a = 0, b = 0;
        if (r % 2 == 0) {
            a = rate(perRound, ping4);
            b = rate(perRound, ping6);
        } else {
            b = rate(perRound, ping6);
            a = rate(perRound, ping4);
        }
        if (a == 0 || b == 0) {
            std::printf("echo6_bench: a request went unanswered\n");
            return 1;
        }
        rates4.push_back(a);
        rates6.push_back(b);
        ratios.push_back(b / a);
    }
    const char* kind = win::IcmpLastSocketKind() == win::IcmpSocketKind::Ping ? "ping" : "raw";
    std::printf("echo6_bench: %d rounds of %d requests, %s sockets\n", rounds, perRound, kind);
    std::printf("  127.0.0.1: median %.0f answered/s\n", median(rates4));
    std::printf("  ::1:       median %.0f answered/s\n", median(rates6));
    std::printf("  ::1 / 127.0.0.1: median %.3f, spread %.3f to %.3f (goal >= 0.9)\n",
                median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}
