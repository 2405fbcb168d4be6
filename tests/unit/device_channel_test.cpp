#include <gtest/gtest.h>

#include <cstring>

#include "device/device_channel.h"
#include "unit/fake_port.h"

namespace sorvanite::testing {
namespace {

struct ChannelRun {
    FakePort port;
    std::string log;
    Transcript transcript = memoryTranscript(log);
    DeviceChannel channel{port, transcript};
    DeviceBuffer buffer{};
    std::size_t stored = 0;
    ReceiveEnd end = ReceiveEnd::Answered;

    // The records written after the run's start marker.
    std::string records() const { return log.substr(std::strlen("New session\r\n")); }
    void receive() {
        ReceiveResult result = channel.receiveFromDevice(buffer);
        stored = result.length;
        end = result.end;
    }
};

TEST(DeviceChannel, SendsCommandsWholeAndRecordsThem) {
    ChannelRun run;
    run.channel.sendToDevice("MOVE e2e4\r");
    EXPECT_EQ(run.port.written(), "MOVE e2e4\r");
    EXPECT_EQ(run.records(), " --> MOVE e2e4\r\n");
}

TEST(DeviceChannel, WhatTheDeviceSentUnaskedIsRecordedAndNeverAnswersTheCommand) {
    ChannelRun run;
    // The LF of a CR LF device, then a late answer to an abandoned command.
    run.port.reply("e7e5\r").unasked("\nd7d5\r").reply("g8f6\r");
    run.receive();
    run.channel.sendToDevice("MOVE d2d4\r");
    run.receive();
    EXPECT_STREQ(run.buffer, "g8f6\r");
    EXPECT_EQ(run.records(), " <-- e7e5\r\n <-- \nd7d5\r\n --> MOVE d2d4\r\n <-- g8f6\r\n");
    // Nothing waiting: no record.
    run.channel.sendToDevice("MOVE g1f3\r");
    EXPECT_TRUE(run.records().ends_with("g8f6\r\n --> MOVE g1f3\r\n"));
}

TEST(DeviceChannel, ReplyEndsAtItsCarriageReturn) {
    ChannelRun run;
    run.port.reply("e7e5\r\ng8f6\r");
    run.receive();
    EXPECT_EQ(run.stored, 5u);
    EXPECT_STREQ(run.buffer, "e7e5\r");
    EXPECT_EQ(run.records(), " <-- e7e5\r\n");
    // The LF of a CR LF device opens the next reply.
    run.receive();
    EXPECT_STREQ(run.buffer, "\ng8f6\r");
}

TEST(DeviceChannel, EmptyReadsAreRetriedUntilTheCarriageReturn) {
    ChannelRun run;
    run.port.emptyRead().reply("e").emptyRead().emptyRead().reply("7e5").emptyRead().reply("\r");
    run.receive();
    EXPECT_STREQ(run.buffer, "e7e5\r");
    EXPECT_EQ(run.port.readsLeft(), 0u);
}

TEST(DeviceChannel, ReadErrorEndsTheReplyAndIsRecorded) {
    ChannelRun run;
    run.port.reply("e7").failedRead(22).reply("e5\r");
    run.receive();
    EXPECT_STREQ(run.buffer, "e7");
    EXPECT_EQ(run.end, ReceiveEnd::DeviceGone);
    EXPECT_EQ(run.records(), " <-- (err: 22)e7\n");
    EXPECT_EQ(run.port.readsLeft(), 3u);

    // A termination request is no failure of the line.
    ChannelRun interrupted;
    interrupted.port.reply("e7").interruptedRead();
    interrupted.receive();
    EXPECT_EQ(interrupted.end, ReceiveEnd::Interrupted);
    EXPECT_EQ(interrupted.records(), " <-- (err: 4)e7\n");
}

TEST(DeviceChannel, ByteDeliveredByAFailingReadIsKept) {
    ChannelRun run;
    run.port.reply("e7e").failedReadWithByte(13, '5');
    run.receive();
    EXPECT_STREQ(run.buffer, "e7e5");
    EXPECT_EQ(run.records(), " <-- (err: 13)e7e5\n");

    ChannelRun endsWithCr;
    endsWithCr.port.reply("ok").failedReadWithByte(13, '\r');
    endsWithCr.receive();
    EXPECT_STREQ(endsWithCr.buffer, "ok\r");
    EXPECT_EQ(endsWithCr.records(), " <-- (err: 13)ok\r\n");
}

TEST(DeviceChannel, OverlongReplyKeepsItsHeadAndEndsAtItsCarriageReturn) {
    ChannelRun run;
    std::string longReply(100, 'x');
    for (std::size_t i = 0; i < longReply.size(); ++i) longReply[i] = static_cast<char>('a' + i % 26);
    run.port.reply(longReply + "\rnext\r");
    run.receive();
    EXPECT_EQ(run.stored, 31u);
    EXPECT_EQ(std::string(run.buffer), longReply.substr(0, 30) + "\r");
    run.receive();
    EXPECT_STREQ(run.buffer, "next\r");
}

TEST(DeviceChannel, RecordKeepsBytesAfterANul) {
    ChannelRun run;
    run.port.reply(std::string("ab\0cd\r", 6));
    run.receive();
    EXPECT_EQ(run.stored, 6u);
    EXPECT_EQ(run.records(), std::string(" <-- ab\0cd\r\n", 12));
}

TEST(DeviceChannel, AbsentTranscriptRecordsNothing) {
    FakePort port;
    Transcript absent;
    DeviceChannel channel(port, absent);
    port.reply("e7e5\r");
    DeviceBuffer buffer;
    channel.sendToDevice("MOVE e2e4\r");
    EXPECT_EQ(channel.receiveFromDevice(buffer).length, 5u);
    EXPECT_EQ(port.written(), "MOVE e2e4\r");
}

}  // namespace
}  // namespace sorvanite::testing
