#include "session/user_config.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace sorvanite {
namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r";
    std::size_t start = text.find_first_not_of(kSpace);
    if (start == std::string_view::npos) return {};
    return text.substr(start, text.find_last_not_of(kSpace) - start + 1);
}

// The key of a `key=value` line, or empty for a comment or another line.
std::string_view keyOf(std::string_view line) {
    line = trimmed(line);
    if (line.empty() || line[0] == '#' || line.find('=') == std::string_view::npos) return {};
    return trimmed(line.substr(0, line.find('=')));
}

}  // namespace

UserConfig parseUserConfig(std::string_view text) {
    UserConfig config;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        if (keyOf(line) != "port") continue;
        std::string_view value = trimmed(std::string_view(line).substr(line.find('=') + 1));
        if (!value.empty()) config.port = std::string(value);
    }
    return config;
}

std::string withPort(std::string_view text, std::string_view port) {
    std::string result;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        if (keyOf(line) != "port") result += line + "\n";
    }
    return result + "port=" + std::string(port) + "\n";
}

UserConfig readUserConfig() {
    std::string path = userConfigPath();
    if (path.empty()) return {};
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return parseUserConfig(text.str());
}

bool saveUserPort(std::string_view port, std::string& error) {
    std::string path = userConfigPath();
    if (path.empty()) {
        error = "there is no home folder to keep it in";
        return false;
    }
    std::error_code made;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), made);
    std::ostringstream old;
    old << std::ifstream(path, std::ios::binary).rdbuf();
    // Written beside it and renamed over it, so a reader never sees half.
    std::string temporary = path + ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << withPort(old.str(), port);
        if (!file.flush()) {
            error = "cannot write " + temporary;
            return false;
        }
    }
    std::error_code renamed;
    std::filesystem::rename(temporary, path, renamed);
    if (renamed) {
        error = "cannot write " + path + ": " + renamed.message();
        return false;
    }
    return true;
}

}  // namespace sorvanite
