// The fixed form of a hit in the system log, whatever the list file's description.
#include "net/syslogalert.h"

#include <gtest/gtest.h>

TEST(SyslogHitLine, OneLineOfTheFixedFormForEveryKindOfHit) {
    const struct {
        const char* procedure;
        const char* protocol;
        int port;
        const char* description;
        bool halfOpen;
        const char* expected;
    } cases[] = {
        {"WS_TcpB", "TCP", 80, "Http", false,
         "WS_TcpB hit: TCP port 80 from 10.0.0.5 port 40123 (Http)"},
        {"WS_TcpB", "TCP", 80, "Http", true,
         "WS_TcpB hit: TCP port 80 from 10.0.0.5 port 40123 (Http) half-open"},
        {"WS_UdpB", "UDP", 53, "DNS", false,
         "WS_UdpB hit: UDP port 53 from 10.0.0.5 port 40123 (DNS)"},
        // A tab, a line break or an unassigned byte would split or mangle the line.
        {"WS_TcpB", "TCP", 21, "Ftp\tcontrol\r\nx\x81y", false,
         "WS_TcpB hit: TCP port 21 from 10.0.0.5 port 40123 (Ftp control  x y)"},
        // The list file is Windows-1250; the log is UTF-8.
        {"WS_TcpB", "TCP", 8080, "Pro\x9a\x6cost", false,
         "WS_TcpB hit: TCP port 8080 from 10.0.0.5 port 40123 (Pro\xc5\xa1lost)"},
        {"WS_TcpB", "TCP", 1, "", false, "WS_TcpB hit: TCP port 1 from 10.0.0.5 port 40123 ()"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(net::syslogHitLine(c.procedure, c.protocol, c.port, "10.0.0.5", 40123,
                                     c.description, c.halfOpen),
                  c.expected);
}
