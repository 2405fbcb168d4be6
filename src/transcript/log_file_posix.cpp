#include <fcntl.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "device/termination.h"
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
        // happens when the disk fills up or a size limit is reached; finish
        // the record if we can, and otherwise take back what did go in, so
        // the file never holds half a record. We are its only writer while
        // we hold the port.
        std::size_t first = 0;
        std::size_t writtenOfRecord = 0;
        while (first < parts.size()) {
            ssize_t written = ::writev(fd_, parts.data() + first, static_cast<int>(parts.size() - first));
            if (written < 0 && errno == EINTR) continue;
            // A FIFO whose reader is slow or stalled: wait where every other
            // wait of the run happens, so a termination request ends it. A
            // record that never got in is lost; the run goes on.
            if (written < 0 && errno == EAGAIN && waitUntilReady(fd_, POLLOUT)) continue;
            if (written <= 0) {
                cutBack(writtenOfRecord);
                return;
            }
            writtenOfRecord += static_cast<std::size_t>(written);
            auto left = static_cast<std::size_t>(written);
            while (first < parts.size() && left >= parts[first].iov_len) left -= parts[first++].iov_len;
            if (first < parts.size()) {
                parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + left;
                parts[first].iov_len -= left;
            }
        }
    }

private:
    void cutBack(std::size_t length) {
        if (length == 0) return;
        off_t end = ::lseek(fd_, 0, SEEK_END);  // fails on a FIFO: nothing to take back there
        if (end >= static_cast<off_t>(length)) (void)::ftruncate(fd_, end - static_cast<off_t>(length));
    }

    int fd_;
};

}  // namespace

std::unique_ptr<LogFile> openLogFile(const char* name) {
    // O_APPEND: every record lands at the end, after earlier runs' records.
    // O_NONBLOCK: a FIFO with no reader must not hang the bridge in open
    // (it fails instead, and the run goes unrecorded), and a full one is
    // waited on in append. A regular file never blocks anyway.
    int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixLogFile>(fd);
}

}  // namespace sorvanite
