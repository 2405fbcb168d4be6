#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorvanite {

// The client's side of a Telnet connection to a serial port server, with
// RFC 2217's COM-PORT-OPTION: it asks the server for the line settings the
// serial backends set (9600 bit/s 8N1, XON/XOFF both ways, DTR and RTS off),
// escapes IAC (0xFF) in what is sent and takes every Telnet sequence out of
// what is read, so that only the device's bytes reach an answer. Options it
// does not know are refused, so that negotiation never stalls. It only turns
// bytes into bytes: the connection is someone else's.
class Rfc2217Client {
public:
    // What to send as the connection opens: the options we will use.
    std::string opening();

    // Takes bytes from the server: the device's bytes are appended to
    // `data`, and what the protocol answers to `reply`, to be sent back.
    void take(std::string_view bytes, std::string& data, std::string& reply);

    // `data` with each IAC doubled, as the device's bytes go on the wire.
    static std::string escape(std::string_view data);

    // Whether the server has answered the COM-PORT-OPTION and every line
    // setting asked of it (or refused the option).
    bool settled() const { return comPortAnswered_ && awaited_.empty(); }
    // Whether the server has answered the COM-PORT-OPTION at all.
    bool optionAnswered() const { return comPortAnswered_; }
    // Notes each setting the server never answered, and stops waiting for
    // them: a server may leave unanswered what its port cannot do (a
    // pseudo-terminal has no DTR).
    void giveUpWaiting();
    // Whether the server reported carrier lost after it had carrier.
    bool carrierLost() const { return carrierLost_; }
    // What the server did with the settings, a line each ("DTR: asked off, the
    // server keeps it on"); taken once.
    std::vector<std::string> takeNotes();
    // The settings as the server reported them, in words, for a person.
    std::string settingsInWords() const;

private:
    void onCommand(std::uint8_t command, std::uint8_t option, std::string& reply);
    void onSubnegotiation(std::string& reply);
    void askLineSettings(std::string& reply);

    enum class State { Data, Iac, Command, Sub, SubIac } state_ = State::Data;
    std::uint8_t command_ = 0;
    std::string sub_;
    bool weWill_[256] = {};  // our WILLs the server has not turned down
    bool weDo_[256] = {};    // our DOs likewise
    bool comPortAnswered_ = false;
    bool comPortAccepted_ = false;
    std::vector<std::string> awaited_;  // settings not yet answered, by name
    bool hadCarrier_ = false;
    bool carrierLost_ = false;
    std::vector<std::string> notes_;
    std::vector<std::string> accepted_;
};

}  // namespace sorvanite
