#include "device/network_port.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "device/rfc2217_client.h"

namespace sorvanite {
namespace {

constexpr std::string_view kRfc2217Scheme = "rfc2217://";
constexpr std::string_view kSocketScheme = "socket://";

// The device's line through a server on another machine. The server's
// closing the connection, or its report that carrier was lost, is the
// line hanging up.
class NetworkPort final : public Port {
public:
    NetworkPort(std::unique_ptr<Connection> connection, bool rfc2217)
        : connection_(std::move(connection)), rfc2217_(rfc2217) {}

    // Sends our side of the negotiation and takes the server's answers: up
    // to `waitMs` in all, and once the server has taken up the option, until
    // it has answered every setting or has said nothing for a quarter of a
    // second. False when the server closed the connection first.
    bool negotiate(int waitMs, int& errorCode) {
        if (!rfc2217_) return true;
        connection_->write(telnet_.opening());
        constexpr int kQuietMs = 250;
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (!telnet_.settled()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            int wait = static_cast<int>(left.count());
            if (telnet_.optionAnswered()) wait = std::min(wait, kQuietMs);
            ConnectionRead got = fill(wait);
            if (got.closed || got.errorCode != 0) {
                errorCode = got.errorCode != 0 ? got.errorCode : connectionClosedError();
                return false;
            }
            if (got.interrupted || (got.count == 0 && telnet_.optionAnswered())) break;
        }
        if (!telnet_.optionAnswered())
            notes_.push_back("the server did not answer RFC 2217 within " + std::to_string(waitMs) +
                             " ms; the line is used as the server set it");
        telnet_.giveUpWaiting();
        // Whatever came before the line was set up is no answer to anything.
        data_.clear();
        return true;
    }

    PortRead readByte() override {
        PortRead result;
        while (next_ == data_.size()) {
            data_.clear();
            next_ = 0;
            ConnectionRead got = fill(-1);
            if (got.interrupted) {
                result.errorCode = got.errorCode;
                result.interrupted = true;
                return result;
            }
            if (got.closed || got.errorCode != 0 || telnet_.carrierLost()) {
                result.errorCode = exitStatusForDeviceGone();
                return result;
            }
        }
        result.gotByte = true;
        result.byte = data_[next_++];
        return result;
    }

    void takeWaitingBytes(std::string& bytes, std::size_t limit) override {
        for (;;) {
            std::size_t before = data_.size();
            ConnectionRead got = fill(0);
            if (data_.size() == before && got.count == 0) break;
            if (got.closed || got.errorCode != 0) break;  // the next exchange finds out
            if (data_.size() - next_ >= limit) break;
        }
        std::size_t take = std::min(limit - std::min(limit, bytes.size()), data_.size() - next_);
        bytes.append(data_, next_, take);
        next_ += take;
    }

    void write(const char* data, std::size_t length) override {
        std::string_view bytes(data, length);
        connection_->write(rfc2217_ ? Rfc2217Client::escape(bytes) : std::string(bytes));
    }

    std::string describeLine() const override {
        return rfc2217_ ? telnet_.settingsInWords()
                        : "raw TCP (socket://): the line settings are the server's";
    }

    std::vector<std::string> takeNotes() override {
        for (std::string& note : telnet_.takeNotes()) notes_.push_back(std::move(note));
        return std::exchange(notes_, {});
    }

private:
    // Reads once from the connection, passing the device's bytes to data_
    // and answering the server's Telnet requests.
    ConnectionRead fill(int waitMs) {
        char chunk[512];
        ConnectionRead got = connection_->read(chunk, sizeof chunk, waitMs);
        std::string_view bytes(chunk, got.count);
        if (!rfc2217_) {
            data_.append(bytes);
        } else if (!bytes.empty()) {
            std::string reply;
            telnet_.take(bytes, data_, reply);
            if (!reply.empty()) connection_->write(reply);
        }
        return got;
    }

    std::unique_ptr<Connection> connection_;
    bool rfc2217_;
    Rfc2217Client telnet_;
    std::string data_;  // the device's bytes not yet read
    std::size_t next_ = 0;
    std::vector<std::string> notes_;
};

}  // namespace

bool isNetworkPortName(std::string_view name) {
    return name.starts_with(kRfc2217Scheme) || name.starts_with(kSocketScheme);
}

std::optional<NetworkAddress> parseNetworkAddress(std::string_view name) {
    NetworkAddress address;
    address.rfc2217 = name.starts_with(kRfc2217Scheme);
    if (!address.rfc2217 && !name.starts_with(kSocketScheme)) return std::nullopt;
    std::string_view rest = name.substr(address.rfc2217 ? kRfc2217Scheme.size() : kSocketScheme.size());
    rest = rest.substr(0, rest.find_first_of("/?"));  // pySerial's options are not ours
    std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = rest.substr(0, colon);
    std::string_view service = rest.substr(colon + 1);
    if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
    if (host.empty() || service.empty() || service.size() > 5 ||
        service.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    address.host = std::string(host);
    address.service = std::string(service);
    return address;
}

std::string describeNetworkOpenError(int errorCode) {
    if (errorCode == hostNotFoundError()) return "the host name is not known";
    if (errorCode == connectionRefusedError()) return "the server refused the connection (is ser2net serving that port?)";
    if (errorCode == connectTimedOutError())
        return "no answer from the server within " + std::to_string(kConnectTimeoutMs / 1000) + " s";
    if (errorCode == connectionClosedError())
        return "the server closed the connection before the line was set up (it may be serving another client)";
    if (errorCode == malformedAddressError()) return "it is not rfc2217://HOST:PORT or socket://HOST:PORT";
    return {};
}

PortOpenResult openNetworkPort(std::string_view name) {
    std::optional<NetworkAddress> address = parseNetworkAddress(name);
    if (!address) return {nullptr, malformedAddressError()};
    int errorCode = 0;
    std::unique_ptr<Connection> connection = connectTo(*address, errorCode);
    if (!connection) return {nullptr, errorCode};
    auto port = std::make_unique<NetworkPort>(std::move(connection), address->rfc2217);
    if (!port->negotiate(2000, errorCode)) return {nullptr, errorCode};
    return {std::move(port), 0};
}

}  // namespace sorvanite
