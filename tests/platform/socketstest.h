#pragma once
#include "platform/winsock.h"

#include <gtest/gtest.h>

// Holds one WSAStartup for the length of a test.
class SocketsTest : public ::testing::Test {
protected:
    void SetUp() override {
        win::WSADATA data;
        ASSERT_EQ(win::WSAStartup(0x0101, &data), 0);
    }
    void TearDown() override { win::WSACleanup(); }
};
