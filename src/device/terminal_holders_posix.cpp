#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "device/terminal_holders.h"

namespace sorvanite {

std::set<long> processesHolding(dev_t device) {
    std::set<long> pids;
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        long pid = std::atol(process.path().filename().c_str());
        if (pid <= 0 || pid == ::getpid()) continue;
        std::error_code fdError;
        for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
            struct stat target {};
            if (::stat(fd.path().c_str(), &target) == 0 && S_ISCHR(target.st_mode) && target.st_rdev == device) {
                pids.insert(pid);
                break;
            }
        }
    }
    return pids;
}

}  // namespace sorvanite
