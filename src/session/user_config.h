#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorvanite {

// The user's own default for every program, for GUIs that start an engine
// without arguments: a small file of `key=value` lines (`#` starts a
// comment), today with one key, `port`.
struct UserConfig {
    std::optional<std::string> port;
};

UserConfig parseUserConfig(std::string_view text);

// `text` with its port line set to `port`; every other line is kept.
std::string withPort(std::string_view text, std::string_view port);

// Where the file lives: $XDG_CONFIG_HOME/sorvanite/config, else
// ~/.config/sorvanite/config; %APPDATA%\sorvanite\config on Windows. Empty
// where there is no such folder to name.
std::string userConfigPath();

// The user's configuration, from its file; empty when there is none.
UserConfig readUserConfig();

// Sets the port in the user's file, making its folder if need be; false
// with `error` set when it cannot be written.
bool saveUserPort(std::string_view port, std::string& error);

}  // namespace sorvanite
