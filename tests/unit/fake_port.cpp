#include "unit/fake_port.h"

namespace sorvanite::testing {

PortRead FakePort::readByte() {
    ++reads_;
    if (script_.empty()) return {false, 0, kHangUpError};
    PortRead next = script_.front();
    script_.pop_front();
    return next;
}

FakePort& FakePort::reply(std::string_view reply) {
    for (char byte : reply) script_.push_back({true, byte, 0});
    return *this;
}

FakePort& FakePort::emptyRead() {
    script_.push_back({false, 0, 0});
    return *this;
}

FakePort& FakePort::failedRead(int errorCode) {
    script_.push_back({false, 0, errorCode});
    return *this;
}

FakePort& FakePort::failedReadWithByte(int errorCode, char byte) {
    script_.push_back({true, byte, errorCode});
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
