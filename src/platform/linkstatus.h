#pragma once
#include <cstdint>
#include <string>

namespace win {

// The two facts the dial-up service keeps about the machine's link, found here
// from the kernel: whether a connection to the world is up, and its speed.
struct LinkStatus {
    bool known = false;     // the route table could be read at all (an empty one too)
    bool connected = false; // a default IPv4 route leads through an interface that is up
    // In units of 100 bits per second, as the dial-up service counts; 0 when the
    // interface does not know its speed (wireless and virtual links).
    std::uint64_t speed = 0;
};

// A default IPv4 route (destination and mask 0, route up) whose interface is up
// with a carrier (operstate "up", and carrier not 0 where the file is there)
// makes a connection; where several do, the one
// with the lowest metric is the link, as the kernel would choose it. Its speed is
// the kernel's figure in Mb/s. `root` stands for "/": the files read are
// proc/net/route and sys/class/net/<interface>/{operstate,carrier,speed} beneath it.
LinkStatus ReadLinkStatus(const std::string& root = "/");

} // namespace win
