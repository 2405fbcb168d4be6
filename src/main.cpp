#include "session/bridge.h"

int main() { return sorvanite::runBridge(SORVANITE_PORT_PATH); }
