#include "device/rfc2217_client.h"

#include <algorithm>
#include <utility>

namespace sorvanite {
namespace {

constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;

// COM-PORT-OPTION commands; the server answers each with the same number
// plus 100.
constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5,
                       kNotifyModemState = 7, kServerOffset = 100;
constexpr std::uint32_t kSpeed = 9600;
constexpr std::uint8_t kParityNone = 1, kOneStopBit = 1;
constexpr std::uint8_t kOutboundXonXoff = 2, kDtrOff = 9, kRtsOff = 12, kInboundXonXoff = 15;
constexpr std::uint8_t kCarrierDetect = 0x80;

std::string command(std::uint8_t verb, std::uint8_t option) {
    return {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

std::string comPortSetting(std::uint8_t which, std::string_view value) {
    std::string text{static_cast<char>(kIac), static_cast<char>(kSb), static_cast<char>(kComPort),
                     static_cast<char>(which)};
    text += Rfc2217Client::escape(value);
    text += {static_cast<char>(kIac), static_cast<char>(kSe)};
    return text;
}

std::string byteValue(std::uint8_t value) { return std::string(1, static_cast<char>(value)); }

// What one SET-CONTROL value sets, and whether it is one we ask for.
struct Control {
    const char* what;
    const char* asked;
    std::uint8_t askedValue;
};

Control controlOf(std::uint8_t value) {
    if (value >= 1 && value <= 3) return {"flow control out", "XON/XOFF", kOutboundXonXoff};
    if (value == 8 || value == 9) return {"DTR", "off", kDtrOff};
    if (value == 11 || value == 12) return {"RTS", "off", kRtsOff};
    if (value >= 14 && value <= 16) return {"flow control in", "XON/XOFF", kInboundXonXoff};
    return {nullptr, nullptr, 0};
}

const char* controlWords(std::uint8_t value) {
    switch (value) {
        case 1: case 14: return "none";
        case 2: case 15: return "XON/XOFF";
        case 3: case 16: return "hardware";
        case 8: case 11: return "on";
        case 9: case 12: return "off";
        default: return "?";
    }
}

}  // namespace

std::string Rfc2217Client::opening() {
    for (std::uint8_t option : {kBinary, kSuppressGoAhead, kComPort}) weWill_[option] = true;
    for (std::uint8_t option : {kBinary, kSuppressGoAhead}) weDo_[option] = true;
    return command(kWill, kBinary) + command(kDo, kBinary) + command(kWill, kSuppressGoAhead) +
           command(kDo, kSuppressGoAhead) + command(kWill, kComPort);
}

std::string Rfc2217Client::escape(std::string_view data) {
    std::string escaped;
    escaped.reserve(data.size());
    for (char byte : data) {
        escaped += byte;
        if (static_cast<std::uint8_t>(byte) == kIac) escaped += byte;
    }
    return escaped;
}

void Rfc2217Client::take(std::string_view bytes, std::string& data, std::string& reply) {
    // A subnegotiation longer than any the option defines is noise.
    constexpr std::size_t kLongestSub = 64;
    for (char c : bytes) {
        auto byte = static_cast<std::uint8_t>(c);
        switch (state_) {
            case State::Data:
                if (byte == kIac) state_ = State::Iac;
                else data += c;
                break;
            case State::Iac:
                state_ = State::Data;
                if (byte == kIac) {
                    data += c;  // a device byte 0xFF
                } else if (byte >= kWill && byte <= kDont) {
                    command_ = byte;
                    state_ = State::Command;
                } else if (byte == kSb) {
                    sub_.clear();
                    state_ = State::Sub;
                }
                break;  // any other command (NOP, GA ...) means nothing here
            case State::Command:
                onCommand(command_, byte, reply);
                state_ = State::Data;
                break;
            case State::Sub:
                if (byte == kIac) state_ = State::SubIac;
                else if (sub_.size() < kLongestSub) sub_ += c;
                break;
            case State::SubIac:
                if (byte == kIac) {
                    if (sub_.size() < kLongestSub) sub_ += c;
                    state_ = State::Sub;
                } else {
                    if (byte == kSe) onSubnegotiation(reply);
                    state_ = State::Data;
                }
                break;
        }
    }
}

// Agrees to what we asked for, refuses everything else, and answers a
// request only when it changes something, so that no exchange loops.
void Rfc2217Client::onCommand(std::uint8_t verb, std::uint8_t option, std::string& reply) {
    bool ours = option == kBinary || option == kSuppressGoAhead || option == kComPort;
    if (verb == kDo) {
        if (!ours) {
            reply += command(kWont, option);
            return;
        }
        if (!weWill_[option]) reply += command(kWill, option);
        weWill_[option] = true;
        if (option == kComPort && !comPortAnswered_) {
            comPortAnswered_ = comPortAccepted_ = true;
            askLineSettings(reply);
        }
    } else if (verb == kDont) {
        if (weWill_[option]) reply += command(kWont, option);
        weWill_[option] = false;
        if (option == kComPort && !comPortAnswered_) {
            comPortAnswered_ = true;
            notes_.push_back("the server takes no line settings (no RFC 2217): the line is as the server set it");
        }
    } else if (verb == kWill) {
        bool wanted = option == kBinary || option == kSuppressGoAhead;
        if (!wanted) reply += command(kDont, option);
        else if (!weDo_[option]) reply += command(kDo, option);
        weDo_[option] = wanted;
    } else if (verb == kWont) {
        if (weDo_[option]) reply += command(kDont, option);
        weDo_[option] = false;
    }
}

void Rfc2217Client::askLineSettings(std::string& reply) {
    std::string speed{static_cast<char>(kSpeed >> 24), static_cast<char>(kSpeed >> 16 & 0xFF),
                      static_cast<char>(kSpeed >> 8 & 0xFF), static_cast<char>(kSpeed & 0xFF)};
    reply += comPortSetting(kSetBaudRate, speed);
    reply += comPortSetting(kSetDataSize, byteValue(8));
    reply += comPortSetting(kSetParity, byteValue(kParityNone));
    reply += comPortSetting(kSetStopSize, byteValue(kOneStopBit));
    for (std::uint8_t control : {kOutboundXonXoff, kInboundXonXoff, kDtrOff, kRtsOff})
        reply += comPortSetting(kSetControl, byteValue(control));
    awaited_ = {"speed", "data bits", "parity", "stop bits", "flow control out", "flow control in", "DTR", "RTS"};
}

void Rfc2217Client::giveUpWaiting() {
    for (const std::string& setting : awaited_) notes_.push_back(setting + ": the server did not answer");
    awaited_.clear();
}

void Rfc2217Client::onSubnegotiation(std::string&) {
    if (sub_.size() < 3 || static_cast<std::uint8_t>(sub_[0]) != kComPort) return;
    auto which = static_cast<std::uint8_t>(sub_[1]);
    std::string_view value = std::string_view(sub_).substr(2);
    auto first = static_cast<std::uint8_t>(value[0]);
    if (which == kServerOffset + kNotifyModemState) {
        if (first & kCarrierDetect) hadCarrier_ = true;
        else if (hadCarrier_) carrierLost_ = true;
        return;
    }
    if (which < kServerOffset + kSetBaudRate || which > kServerOffset + kSetControl) return;
    std::string setting, asked, got;
    switch (which - kServerOffset) {
        case kSetBaudRate: {
            std::uint32_t speed = 0;
            for (std::size_t i = 0; i < 4 && i < value.size(); ++i)
                speed = speed << 8 | static_cast<std::uint8_t>(value[i]);
            setting = "speed", asked = std::to_string(kSpeed) + " bit/s", got = std::to_string(speed) + " bit/s";
            break;
        }
        case kSetDataSize: setting = "data bits", asked = "8", got = std::to_string(first); break;
        case kSetParity:
            setting = "parity", asked = "none", got = first == kParityNone ? "none" : "code " + std::to_string(first);
            break;
        case kSetStopSize:
            setting = "stop bits", asked = "1", got = first == kOneStopBit ? "1" : "code " + std::to_string(first);
            break;
        case kSetControl: {
            Control control = controlOf(first);
            if (!control.what) return;
            setting = control.what, asked = control.asked, got = controlWords(first);
            break;
        }
    }
    std::erase(awaited_, setting);
    accepted_.push_back(setting + " " + got);
    if (got != asked) notes_.push_back(setting + ": asked " + asked + ", the server set " + got);
}

std::vector<std::string> Rfc2217Client::takeNotes() { return std::exchange(notes_, {}); }

std::string Rfc2217Client::settingsInWords() const {
    if (!comPortAccepted_) return "RFC 2217 refused by the server: the line is as the server set it";
    std::string text = "RFC 2217; the server reports";
    for (std::size_t i = 0; i < accepted_.size(); ++i) text += (i ? ", " : " ") + accepted_[i];
    if (accepted_.empty()) text += " no settings";
    return text;
}

}  // namespace sorvanite
