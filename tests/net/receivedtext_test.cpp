#include "net/receivedtext.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(ReceivedText, WhatEachReadPathMakesOfTheBytes) {
    struct Case {
        std::string bytes;
        std::string text, lowered, reply;
    } cases[] = {
        {"", "", "", ""},
        {"Hello\r\nWorld", "Hello\r\nWorld", "hello\r\nworld", "Hello"},
        {"  GET / HTTP/1.0\r\n", "  GET / HTTP/1.0\r\n", "get / http/1.0\r\n", "  GET / HTTP/1.0"},
        {"AB\0CD"s, "AB", "ab", "AB"},
        {"\0after"s, "", "", ""},
        {"\x8A\xC8 \xA3"s, "\x8A\xC8 \xA3", "\x9A\xE8 \xB3", "\x8A\xC8 \xA3"}, // Š Č Ł
        {"\r\rline", "\r\rline", "\r\rline", ""},
        {"\tTab", "\tTab", "\ttab", "\tTab"}, // only blanks are dropped in front
    };
    for (const auto& c : cases) {
        EXPECT_EQ(net::receivedText(c.bytes), c.text) << c.bytes;
        EXPECT_EQ(net::loweredText(c.bytes), c.lowered) << c.bytes;
        EXPECT_EQ(net::replyLine(c.bytes), c.reply) << c.bytes;
    }
}
