#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "transcript/transcript.h"
#include "unit/fake_port.h"

namespace sorvanite::testing {
namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

class TranscriptFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("sorvanite-transcript-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "zormlog.txt").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    Transcript open() { return Transcript(openLogFile(path_.c_str())); }

    std::filesystem::path dir_;
    std::string path_;
};

TEST_F(TranscriptFile, RunsFollowEachOther) {
    {
        Transcript first = open();
        first.record({"==> ", "new", "\r\n"});
        first.close();
    }
    {
        Transcript second = open();
        second.record({" <-- ", "(err: 5)", "e7", "\n"});
    }  // closing on destruction still marks the end
    EXPECT_EQ(readFile(path_),
              "New session\r\n==> new\r\nSession ends\r\nNew session\r\n <-- (err: 5)e7\nSession ends\r\n");
}

TEST_F(TranscriptFile, UnopenableFileLeavesTheTranscriptAbsent) {
    std::filesystem::create_directory(path_);
    EXPECT_EQ(openLogFile(path_.c_str()), nullptr);
    Transcript absent;
    EXPECT_FALSE(absent.isOpen());
    absent.record({"ignored"});
    absent.close();
}

TEST(Transcript, ClosesOnce) {
    std::string log;
    Transcript transcript = memoryTranscript(log);
    transcript.close();
    transcript.close();
    transcript.record({"late"});
    EXPECT_EQ(log, "New session\r\nSession ends\r\n");
}

}  // namespace
}  // namespace sorvanite::testing
