#include "chess_device.h"

#include <sstream>

namespace sorvanite::emulator {

std::string ChessDevice::answer(const std::string& command) {
    std::istringstream words(command);
    std::string verb, first, second, colour;
    words >> verb >> first >> second >> colour;
    if (verb == "NEW") {
        game_.reset();
        started_ = true;
        if (colour == "w") {
            std::string move = game_.bestMove();
            game_.play(move);
            // Only from an opening position can the first move end the game.
            return game_.result() ? move + " " + *game_.result() : move;
        }
        return "OK";
    }
    if (verb == "MOVE") {
        // A MOVE before any NEW plays from the initial position.
        if (!started_) game_.reset();
        started_ = true;
        return replyTo(first);
    }
    return "Unknown command";
}

std::string ChessDevice::replyTo(const std::string& move) {
    if (!game_.play(move)) return "Illegal move";
    // The user's move ended the game: acknowledge it with the result.
    if (game_.result()) return move + " " + *game_.result();
    std::string reply = game_.bestMove();
    game_.play(reply);
    if (game_.result()) return reply + " " + *game_.result();
    return reply;
}

}  // namespace sorvanite::emulator
