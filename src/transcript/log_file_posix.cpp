#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "transcript/log_file.h"

namespace sorvanite {
namespace {

class PosixLogFile final : public LogFile {
public:
    explicit PosixLogFile(int fd) : fd_(fd) {}
    ~PosixLogFile() override { ::close(fd_); }

    void append(std::span<const std::string_view> pieces) override {
        std::vector<iovec> parts;
        parts.reserve(pieces.size());
        for (std::string_view piece : pieces) {
            if (!piece.empty())
                parts.push_back({const_cast<char*>(piece.data()), piece.size()});
        }
        // One writev per record keeps it whole in the file. A short write only
        // happens when the disk fills up; finish the record if we can, and
        // give up on it at the first real error.
        std::size_t first = 0;
        while (first < parts.size()) {
            ssize_t written = ::writev(fd_, parts.data() + first, static_cast<int>(parts.size() - first));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return;
            auto left = static_cast<std::size_t>(written);
            while (first < parts.size() && left >= parts[first].iov_len) left -= parts[first++].iov_len;
            if (first < parts.size()) {
                parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + left;
                parts[first].iov_len -= left;
            }
        }
    }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<LogFile> openLogFile(const char* name) {
    // O_APPEND: every record lands at the end, after earlier runs' records.
    int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixLogFile>(fd);
}

}  // namespace sorvanite
