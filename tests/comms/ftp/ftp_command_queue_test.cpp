#include "comms/ftp/ftp_command_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/exception.h"

namespace qv {
namespace {

std::vector<std::string> Drain(FtpCommandQueue& q) {
    std::vector<std::string> sent;
    while (auto c = q.PopNext()) sent.push_back(*c);
    return sent;
}

TEST(FtpCommandQueue, LastQueuedGoesOutFirst) {
    // A passive restart download queues its chain backwards.
    FtpCommandQueue q;
    for (const char* c : {"RETR a.bin", "REST 0", "PASV", "TYPE I"}) q.Push(c);
    EXPECT_EQ(q.Count(), 4);
    EXPECT_EQ(Drain(q), (std::vector<std::string>{"TYPE I", "PASV", "REST 0", "RETR a.bin"}));
    EXPECT_FALSE(q.PopNext().has_value());
    EXPECT_EQ(q.Count(), 0);

    q.Push("NLST");
    q.Push("TYPE A");
    q.Clear();
    EXPECT_TRUE(q.Empty());
    EXPECT_FALSE(q.PopNext().has_value());
}

TEST(FtpCommandQueue, ThirtyThirdCommandEmptiesTheQueueAndRaises) {
    FtpCommandQueue q;
    for (int i = 0; i < FtpCommandQueue::kCapacity; ++i) q.Push("CMD " + std::to_string(i));
    EXPECT_EQ(q.Count(), 32);
    try {
        q.Push("CMD 32");
        FAIL() << "no exception";
    } catch (const EConvertError&) {
        FAIL() << "wrong class";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "FTP Command stack full");
    }
    // Nothing queued before will be sent.
    EXPECT_EQ(q.Count(), 0);
    EXPECT_FALSE(q.PopNext().has_value());
    // The queue works again from the bottom.
    q.Push("TYPE A");
    q.Push("PASV");
    EXPECT_EQ(Drain(q), (std::vector<std::string>{"PASV", "TYPE A"}));
}

}  // namespace
}  // namespace qv
