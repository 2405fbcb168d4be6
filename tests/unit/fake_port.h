#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device/port.h"
#include "transcript/log_file.h"
#include "transcript/transcript.h"

namespace sorvanite::testing {

// A port that records every byte written to it and serves scripted reads one
// byte at a time. Once the script runs out, reads fail as a hung-up line does,
// so a test can never wait for ever.
class FakePort final : public Port {
public:
    static constexpr int kHangUpError = 5;

    PortRead readByte() override;
    void takeWaitingBytes(std::string& bytes, std::size_t limit) override;
    void write(const char* data, std::size_t length) override { written_.append(data, length); }

    // Queues the bytes of `reply`, each served by its own read.
    FakePort& reply(std::string_view reply);
    // Queues a read that delivers nothing (a port read time-out).
    FakePort& emptyRead();
    // Queues a failing read, optionally one that still delivered a byte.
    FakePort& failedRead(int errorCode);
    FakePort& failedReadWithByte(int errorCode, char byte);
    // Queues a read that a termination request cut short.
    FakePort& interruptedRead();
    // Queues bytes the device sends unasked: they are already waiting when
    // the next command goes out.
    FakePort& unasked(std::string_view bytes);

    const std::string& written() const { return written_; }
    // The written bytes split after each CR.
    std::vector<std::string> commands() const;
    std::size_t readsLeft() const { return script_.size(); }
    std::size_t readCount() const { return reads_; }

private:
    struct Step {
        PortRead read;
        bool unasked = false;
    };
    std::deque<Step> script_;
    std::string written_;
    std::size_t reads_ = 0;
};

// A log file kept in memory, so a test sees the transcript's exact bytes.
class MemoryLogFile final : public LogFile {
public:
    explicit MemoryLogFile(std::string& contents) : contents_(contents) {}
    void append(std::span<const std::string_view> pieces) override {
        for (std::string_view piece : pieces) contents_.append(piece);
    }

private:
    std::string& contents_;
};

inline Transcript memoryTranscript(std::string& contents) {
    return Transcript(std::make_unique<MemoryLogFile>(contents));
}

}  // namespace sorvanite::testing
