#include "unit/fake_port.h"

namespace sorvanite::testing {

PortRead FakePort::readByte() {
    ++reads_;
    if (script_.empty()) return {false, 0, kHangUpError};
    PortRead next = script_.front().read;
    script_.pop_front();
    return next;
}

void FakePort::takeWaitingBytes(std::string& bytes, std::size_t limit) {
    while (!script_.empty() && script_.front().unasked && bytes.size() < limit) {
        bytes += script_.front().read.byte;
        script_.pop_front();
    }
}

FakePort& FakePort::unasked(std::string_view bytes) {
    for (char byte : bytes) script_.push_back({{true, byte, 0}, true});
    return *this;
}

FakePort& FakePort::interruptedRead() {
    script_.push_back({{false, 0, 4, true}});
    return *this;
}

FakePort& FakePort::reply(std::string_view reply) {
    for (char byte : reply) script_.push_back({{true, byte, 0}});
    return *this;
}

FakePort& FakePort::emptyRead() {
    script_.push_back({{false, 0, 0}});
    return *this;
}

FakePort& FakePort::failedRead(int errorCode) {
    script_.push_back({{false, 0, errorCode}});
    return *this;
}

FakePort& FakePort::failedReadWithByte(int errorCode, char byte) {
    script_.push_back({{true, byte, errorCode}});
    return *this;
}

std::vector<std::string> FakePort::commands() const {
    std::vector<std::string> result;
    std::string current;
    for (char byte : written_) {
        current += byte;
        if (byte == '\r') result.push_back(std::move(current)), current.clear();
    }
    if (!current.empty()) result.push_back(current);
    return result;
}

}  // namespace sorvanite::testing
