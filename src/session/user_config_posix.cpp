#include <cstdlib>

#include "session/user_config.h"

namespace sorvanite {

std::string userConfigPath() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && configHome[0] == '/') return std::string(configHome) + "/sorvanite/config";
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') return std::string(home) + "/.config/sorvanite/config";
    return {};
}

}  // namespace sorvanite
