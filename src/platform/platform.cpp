#include "platform/platform.h"

namespace platform {

// The build's real implementations, defined once per platform in the file of
// their concern.
System& RealSystem();
Files& RealFiles();
Registry& RealRegistry();
Network& RealNetwork();
Text& RealText();
Console& RealConsole();

Override::Layer& Override::Current() {
  static Layer layer;
  return layer;
}

System& system() { return Override::Current().system ? *Override::Current().system : RealSystem(); }
Files& files() { return Override::Current().files ? *Override::Current().files : RealFiles(); }
Registry& registry() { return Override::Current().registry ? *Override::Current().registry : RealRegistry(); }
Network& network() { return Override::Current().network ? *Override::Current().network : RealNetwork(); }
Text& text() { return Override::Current().text ? *Override::Current().text : RealText(); }
Console& console() { return Override::Current().console ? *Override::Current().console : RealConsole(); }

}  // namespace platform
