#pragma once
// A path of `routers` routers made of network namespaces, addresses from
// 198.18.0.0/15, link k on 198.18.k.0/24:
//
//   host .1.2 -- .1.1 r1 .2.1 -- .2.2 r2 .3.1 -- .3.2 r3 ... rN .(N+1).1 -- .(N+1).2 target
//
// Router k answers from its address toward the host: 198.18.1.1 for the first,
// 198.18.k.2 for the others. The same path carries IPv6, link k on 2001:db8:k::/64
// with the same host numbers (2001:db8:1::1, 2001:db8:k::2). The routers answer without the
// kernel's ICMP rate limit, as a path monitor probing twenty rounds a second would silence them.
#include "netnamespace.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class PathNetwork {
public:
    explicit PathNetwork(int routers = 3) {
        const std::string roles[] = {"h", "t"};
        for (int i = 0; i <= routers + 1; ++i)
            nodes.push_back(std::make_unique<NetNamespace>(i == 0 ? roles[0]
                                                           : i == routers + 1
                                                               ? roles[1]
                                                               : "r" + std::to_string(i)));
        m_ready = true;
        // Without duplicate address detection the addresses, link-local ones
        // included, serve at once.
        for (const auto& node : nodes)
            m_ready = m_ready && node->made() && node->sysctl("net.ipv6.conf.all.accept_dad=0") &&
                      node->sysctl("net.ipv6.conf.default.accept_dad=0");
        for (int k = 1; m_ready && k <= routers + 1; ++k) {
            const NetNamespace& a = *nodes[k - 1];
            const NetNamespace& b = *nodes[k];
            const std::string net = "198.18." + std::to_string(k) + ".";
            const std::string net6 = "2001:db8:" + std::to_string(k) + "::";
            const std::string va = "p" + std::to_string(k) + "a",
                              vb = "p" + std::to_string(k) + "b";
            m_ready =
                a.made() && b.made() &&
                a.ip("link add " + va + " type veth peer name " + vb + " netns " + b.name()) &&
                a.ip("addr add " + net + (k == 1 ? "2" : "1") + "/24 dev " + va) &&
                b.ip("addr add " + net + (k == 1 ? "1" : "2") + "/24 dev " + vb) &&
                a.ip("addr add " + net6 + (k == 1 ? "2" : "1") + "/64 dev " + va) &&
                b.ip("addr add " + net6 + (k == 1 ? "1" : "2") + "/64 dev " + vb) &&
                a.ip("link set " + va + " up") && b.ip("link set " + vb + " up");
        }
        for (int k = 1; m_ready && k <= routers; ++k) {
            const NetNamespace& r = *nodes[k];
            m_ready =
                r.sysctl("net.ipv4.ip_forward=1") && r.sysctl("net.ipv4.icmp_ratelimit=0") &&
                r.sysctl("net.ipv4.icmp_ratemask=0") &&
                r.sysctl("net.ipv6.conf.all.forwarding=1") &&
                r.sysctl("net.ipv6.icmp.ratelimit=0") && r.sysctl("net.ipv6.icmp.ratemask=0") &&
                r.ip("-6 route add default via 2001:db8:" + std::to_string(k + 1) + "::2") &&
                (k == 1 ||
                 r.ip("-6 route add 2001:db8:1::/64 via 2001:db8:" + std::to_string(k) + "::1")) &&
                r.ip("route add default via 198.18." + std::to_string(k + 1) + ".2") &&
                (k == 1 || r.ip("route add 198.18.1.0/24 via 198.18." + std::to_string(k) + ".1"));
        }
        for (int k = 1; m_ready && k <= routers + 1; ++k)
            m_ready = ipv6Up(*nodes[k - 1], "p" + std::to_string(k) + "a") &&
                      ipv6Up(*nodes[k], "p" + std::to_string(k) + "b");
        m_target = "198.18." + std::to_string(routers + 1) + ".2";
        m_target6 = "2001:db8:" + std::to_string(routers + 1) + "::2";
        m_ready = m_ready && nodes[0]->ip("route add default via 198.18.1.1") &&
                  nodes.back()->ip("route add default via 198.18." + std::to_string(routers + 1) +
                                   ".1") &&
                  nodes[0]->ip("-6 route add default via 2001:db8:1::1") &&
                  nodes.back()->ip(
                      "-6 route add default via 2001:db8:" + std::to_string(routers + 1) + "::1");
    }

    bool ready() const { return m_ready; }
    const std::string& target() const { return m_target; }
    const std::string& target6() const { return m_target6; }
    // The address hop `k` (1 up) answers from.
    static std::string hop(int k) {
        return k == 1 ? "198.18.1.1" : "198.18." + std::to_string(k) + ".2";
    }
    static std::string hop6(int k) {
        return "2001:db8:" + std::to_string(k) + (k == 1 ? "::1" : "::2");
    }
    const NetNamespace& host() const { return *nodes.front(); }
    const NetNamespace& router(int k) const { return *nodes[k]; }

    // Router k's time-exceeded answers, `percent` of them at random, are dropped.
    bool dropTimeExceeded(int k, int percent, const std::string& scratch) const {
        const std::string file = scratch + "/loss.nft";
        const std::string rules =
            "table ip loss {\n chain out {\n  type filter hook output priority 0;\n"
            "  icmp type time-exceeded numgen random mod 100 < " +
            std::to_string(percent) + " drop\n }\n}\n";
        std::FILE* f = std::fopen(file.c_str(), "w");
        if (!f) return false;
        std::fputs(rules.c_str(), f);
        std::fclose(f);
        return router(k).exec("nft -f " + file);
    }

    std::vector<std::unique_ptr<NetNamespace>> nodes;

private:
    // IPv6 takes a link up a moment after the link itself (its multicast route,
    // without which neighbour discovery gets nowhere, comes with the link-local
    // address); until then every IPv6 packet over it is lost.
    static bool ipv6Up(const NetNamespace& node, const std::string& link) {
        const std::string probe = "ip -n " + node.name() +
                                  " -6 route show table local | grep -q 'ff00::/8 dev " + link +
                                  " '";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!NetNamespace::shell(probe)) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    bool m_ready = false;
    std::string m_target;
    std::string m_target6;
};
