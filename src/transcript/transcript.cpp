#include "transcript/transcript.h"

#include <utility>

namespace sorvanite {

Transcript::Transcript(std::unique_ptr<LogFile> file) : file_(std::move(file)) {
    record({"New session\r\n"});
}

Transcript::~Transcript() { close(); }

void Transcript::record(std::initializer_list<std::string_view> pieces) {
    if (!writing_) return;  // moved from
    std::lock_guard<std::mutex> hold(*writing_);
    if (file_) file_->append({pieces.begin(), pieces.size()});
}

void Transcript::close() {
    if (!file_) return;
    record({"Session ends\r\n"});
    std::lock_guard<std::mutex> hold(*writing_);
    file_.reset();
}

Transcript openTranscript() {
    auto file = openLogFile(kTranscriptName);
    if (!file) return Transcript();
    return Transcript(std::move(file));
}

}  // namespace sorvanite
