#include <gtest/gtest.h>

#include <cstring>

#include "device/device_channel.h"
#include "device/rfc2217_client.h"
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

namespace sorvanite::testing {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (int value : values) text += static_cast<char>(value);
    return text;
}

// A server as ser2net answers on a pseudo-terminal: it takes the option and
// the settings but leaves DTR and RTS unanswered, and reports hardware flow
// control inbound.
TEST(Rfc2217, SettingsAreAskedAndWhatTheServerDidIsNoted) {
    Rfc2217Client client;
    EXPECT_EQ(client.opening(), bytes({255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3, 255, 251, 44}));
    std::string data, reply;
    client.take(bytes({255, 251, 1, 255, 253, 0, 255, 253, 44, 255, 253, 3}), data, reply);
    EXPECT_TRUE(client.optionAnswered());
    EXPECT_EQ(reply.substr(0, 3), bytes({255, 254, 1})) << "ECHO refused";
    EXPECT_NE(reply.find(bytes({255, 250, 44, 1, 0, 0, 0x25, 0x80, 255, 240})), std::string::npos) << "9600 bit/s";
    EXPECT_NE(reply.find(bytes({255, 250, 44, 5, 9, 255, 240})), std::string::npos) << "DTR off";
    EXPECT_NE(reply.find(bytes({255, 250, 44, 5, 12, 255, 240})), std::string::npos) << "RTS off";
    reply.clear();
    for (auto [which, value] : std::initializer_list<std::pair<int, int>>{{102, 8}, {103, 1}, {104, 1}, {105, 2}, {105, 16}})
        client.take(bytes({255, 250, 44, which, value, 255, 240}), data, reply);
    client.take(bytes({255, 250, 44, 101, 0, 0, 0x25}), data, reply);  // split across two reads
    client.take(bytes({0x80, 255, 240}), data, reply);
    EXPECT_FALSE(client.settled());
    client.giveUpWaiting();
    EXPECT_EQ(client.takeNotes(), (std::vector<std::string>{"flow control in: asked XON/XOFF, the server set hardware",
                                                            "DTR: the server did not answer",
                                                            "RTS: the server did not answer"}));
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(reply.empty()) << "nothing answered twice";
    EXPECT_NE(client.settingsInWords().find("speed 9600 bit/s"), std::string::npos) << client.settingsInWords();
}

TEST(Rfc2217, OnlyTheDevicesBytesReachTheAnswer) {
    Rfc2217Client client;
    client.opening();
    std::string data, reply;
    // 0xFF from the device, a NOP, an unknown option asked for, and a
    // subnegotiation of another option, with the answer around them.
    client.take("e7" + bytes({255, 255, 255, 241, 255, 253, 24, 255}), data, reply);
    client.take(bytes({250, 24, 1, 255, 240}) + "e5\r", data, reply);
    EXPECT_EQ(data, "e7\xff" "e5\r");
    EXPECT_EQ(reply, bytes({255, 252, 24})) << "terminal type refused";
    EXPECT_EQ(Rfc2217Client::escape("a\xff" "b"), "a\xff\xff" "b");
    // A server that will not speak RFC 2217: said once, and play goes on.
    client.take(bytes({255, 254, 44}), data, reply);
    EXPECT_TRUE(client.settled());
    EXPECT_EQ(client.takeNotes().size(), 1u);
}

}  // namespace
}  // namespace sorvanite::testing
