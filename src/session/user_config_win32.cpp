#include <cstdlib>

#include "session/user_config.h"

namespace sorvanite {

std::string userConfigPath() {
    const char* appData = std::getenv("APPDATA");
    if (appData && appData[0] != '\0') return std::string(appData) + "\\sorvanite\\config";
    return {};
}

}  // namespace sorvanite
