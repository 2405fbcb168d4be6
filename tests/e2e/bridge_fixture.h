#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/child_process.h"
#include "e2e/pty_device.h"

namespace sorvanite::e2e {

// What one whole run left behind, byte for byte.
struct RunResult {
    std::string output;      // the bridge's standard output
    std::string device;      // what reached the device
    std::string transcript;  // "zormlog.txt" afterwards
    ExitStatus status;
};

// Each test gets a scratch directory: the bridge's working directory, where
// the test build of the bridge opens its port "com1" and writes its
// transcript.
class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path dir() const { return dir_; }

    // Run as root, moves the scratch directory and copies of the programs to
    // a place an ordinary user can reach and write (the build tree may lie
    // below a directory only root may enter), for tests that run them as
    // "nobody" through asOrdinaryUser.
    void openUpForOrdinaryUser();
    std::string transcript() const;
    // Waits until the transcript holds `text`: the run has got that far.
    bool waitForRecord(std::string_view text, std::chrono::milliseconds timeout = 10s) const;
    // The bridge, sorvanite-cecp2, sorvanite-uci or sorvanite-doctor, built for the port "com1".
    std::unique_ptr<ChildProcess> start(void (*prepare)() = nullptr, const std::vector<std::string>& args = {});
    std::unique_ptr<ChildProcess> startCecp2(void (*prepare)() = nullptr, const std::vector<std::string>& args = {});
    std::unique_ptr<ChildProcess> startUci(void (*prepare)() = nullptr, const std::vector<std::string>& args = {});
    std::unique_ptr<ChildProcess> startDoctor(const std::vector<std::string>& args, void (*prepare)() = nullptr);

private:
    std::unique_ptr<ChildProcess> startProgram(const std::string& program, const char* windowsProgramVariable,
                                               const std::vector<std::string>& args, void (*prepare)());
    std::filesystem::path dir_;
    std::string bridge_ = SORVANITE_E2E_BRIDGE;
    std::string doctor_ = SORVANITE_E2E_DOCTOR;
    std::string cecp2_ = SORVANITE_E2E_CECP2;
    std::string uci_ = SORVANITE_E2E_UCI;
};

// A scratch directory whose "com1" is a pseudo-terminal the test plays the
// device on.
class BridgeTest : public ScratchDirTest {
protected:
    void SetUp() override;

    using Starter = std::unique_ptr<ChildProcess> (ScratchDirTest::*)(void (*)(), const std::vector<std::string>&);
    // Runs the bridge (or the program `starter` starts) on `input` against a
    // device that answers with `answers`.
    RunResult run(const std::string& input, std::vector<Answer> answers = {}, Starter starter = nullptr);

    PtyDevice device;
};

// The end-to-end tests also run the Windows bridge under Wine: then
// SORVANITE_E2E_WINE_BRIDGE names sorvanite.exe and WINEPREFIX the Wine
// prefix, whose COM1 is linked to the test's pseudo-terminal.
bool underWine();

// Where the bridge under test looks for its port.
std::filesystem::path portLinkPath(const std::filesystem::path& scratchDir);

std::string readFile(const std::filesystem::path& path);

// For a child about to run a program: drops to "nobody" when the tests run
// as root, who passes every permission and exclusive-open check that an
// ordinary user meets.
void asOrdinaryUser();

// Sends `child` SIGTERM: it must end in order, status 0, within a second.
void expectQuickOrderlyEndOnSigterm(ChildProcess& child);

// CPU time the process has used so far, in seconds.
double cpuSeconds(pid_t pid);

// The transcript records of one run, after the run's start marker and the
// greeting record.
std::string recordsAfterGreeting(const std::string& transcript);

}  // namespace sorvanite::e2e
