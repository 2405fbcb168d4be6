#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/bridge_process.h"
#include "e2e/pty_device.h"

namespace sorvanite::e2e {

// What one whole run left behind, byte for byte.
struct RunResult {
    std::string output;      // the bridge's standard output
    std::string device;      // what reached the device
    std::string transcript;  // "zormlog.txt" afterwards
    ExitStatus status;
};

// Each test gets a scratch directory holding the port link "com1" (the port
// the test build of the bridge opens) and the transcript.
class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path dir() const { return dir_; }
    std::string transcript() const;
    std::unique_ptr<BridgeProcess> start();

    // Runs the bridge on `input` against a device that answers with `answers`.
    RunResult run(const std::string& input, std::vector<Answer> answers = {});

    PtyDevice device;

private:
    std::filesystem::path dir_;
};

std::string readFile(const std::filesystem::path& path);

// The transcript records of one run, after the run's start marker and the
// greeting record.
std::string recordsAfterGreeting(const std::string& transcript);

}  // namespace sorvanite::e2e
