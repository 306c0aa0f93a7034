#include "hook/ClientDetection.h"

#include <gtest/gtest.h>

using parleym::ClassifyMessengerClient;

TEST(ClientDetection, VersionRulesOfBothClients) {
    // Windows Messenger 4.7 needs XP or later.
    EXPECT_EQ(ClassifyMessengerClient("msmsgs.exe", 4, 7, 5, 1), 1);
    EXPECT_EQ(ClassifyMessengerClient("MSMSGS.EXE", 4, 7, 5, 2), 1);
    EXPECT_EQ(ClassifyMessengerClient("msmsgs.exe", 4, 7, 5, 0), 0);
    EXPECT_EQ(ClassifyMessengerClient("msmsgs.exe", 4, 6, 5, 1), 0);
    EXPECT_EQ(ClassifyMessengerClient("msmsgs.exe", 5, 0, 5, 1), 0);
    // MSN Messenger 5.0 only when the system looks like x.0 or older than 5.
    EXPECT_EQ(ClassifyMessengerClient("msnmsgr.exe", 5, 0, 5, 0), 2);
    EXPECT_EQ(ClassifyMessengerClient("MsnMsgr.Exe", 5, 0, 4, 10), 2);
    EXPECT_EQ(ClassifyMessengerClient("msnmsgr.exe", 5, 0, 5, 1), 0);
    EXPECT_EQ(ClassifyMessengerClient("msnmsgr.exe", 6, 0, 5, 0), 0);
    // Other programs, even with a messenger's version.
    EXPECT_EQ(ClassifyMessengerClient("msmsgs.exe.exe", 4, 7, 5, 1), 0);
    EXPECT_EQ(ClassifyMessengerClient("notepad.exe", 4, 7, 5, 1), 0);
    EXPECT_EQ(ClassifyMessengerClient(nullptr, 4, 7, 5, 1), 0);
}
