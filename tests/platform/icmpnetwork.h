#pragma once
// A path of three hops built from network namespaces, addresses from 198.18.0.0/15:
//
//   host 198.18.1.2 -- 198.18.1.1 router1 198.18.2.1 -- 198.18.2.2 router2 198.18.3.1
//        -- 198.18.3.2 target
//
// router2 also holds an `unreachable` route (198.18.4.0/24, answered with host
// unreachable), a `blackhole` route (198.18.5.0/24, dropped without a word) and
// no route at all for the rest (198.18.6.1 gets net unreachable). The routers
// answer without the kernel's ICMP rate limit, so repeated traces do not flake;
// the rate mask is cleared as well, because a rate limit of 0 would otherwise use
// up the tokens that unreachable answers need (at most five a second remain).
#include "netnamespace.h"

#include <arpa/inet.h>
#include <cstdint>
#include <memory>
#include <string>

class IcmpNetwork {
public:
    static constexpr const char* Host = "198.18.1.2";
    static constexpr const char* Router1 = "198.18.1.1";
    static constexpr const char* Router2 = "198.18.2.2";
    static constexpr const char* Target = "198.18.3.2";
    static constexpr const char* Unreachable = "198.18.4.1";
    static constexpr const char* Blackhole = "198.18.5.1";
    static constexpr const char* NoRoute = "198.18.6.1";

    // `pingGroups` is the host's net.ipv4.ping_group_range: "0 2147483647" lets
    // every group open ping sockets, "1 0" none (raw sockets then).
    explicit IcmpNetwork(const std::string& pingGroups = "1 0")
        : host("h"), router1("r1"), router2("r2"), target("t") {
        m_ready = host.made() && router1.made() && router2.made() && target.made() &&
                  link(host, "h0", Host, router1, "r1a", Router1) &&
                  link(router1, "r1b", "198.18.2.1", router2, "r2a", Router2) &&
                  link(router2, "r2b", "198.18.3.1", target, "t0", Target) &&
                  host.ip("route add default via 198.18.1.1") &&
                  router1.ip("route add default via 198.18.2.2") &&
                  router2.ip("route add 198.18.1.0/24 via 198.18.2.1") &&
                  router2.ip("route add unreachable 198.18.4.0/24") &&
                  router2.ip("route add blackhole 198.18.5.0/24") &&
                  target.ip("route add default via 198.18.3.1") && router(router1) &&
                  router(router2) && target.sysctl("net.ipv4.icmp_ratelimit=0") &&
                  host.sysctl("net.ipv4.ping_group_range=\"" + pingGroups + "\"");
    }

    bool ready() const { return m_ready; }

    static std::uint32_t address(const char* dotted) { return ::inet_addr(dotted); }

    NetNamespace host, router1, router2, target;

private:
    static bool link(const NetNamespace& a, const char* aName, const char* aAddress,
                     const NetNamespace& b, const char* bName, const char* bAddress) {
        return a.ip(std::string("link add ") + aName + " type veth peer name " + bName + " netns " +
                    b.name()) &&
               a.ip(std::string("addr add ") + aAddress + "/24 dev " + aName) &&
               b.ip(std::string("addr add ") + bAddress + "/24 dev " + bName) &&
               a.ip(std::string("link set ") + aName + " up") &&
               b.ip(std::string("link set ") + bName + " up");
    }
    static bool router(const NetNamespace& r) {
        return r.sysctl("net.ipv4.ip_forward=1") && r.sysctl("net.ipv4.icmp_ratelimit=0") &&
               r.sysctl("net.ipv4.icmp_ratemask=0");
    }

    bool m_ready = false;
};
