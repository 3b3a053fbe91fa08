// The one seam between the program and the operating system. Each concern
// has an interface; the accessors below hand out the build's real
// implementation unless a test has installed a fake.
#pragma once

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/network.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/text.h"

namespace platform {

System& system();
Files& files();
Registry& registry();
Network& network();
Text& text();

// Test hooks: install a replacement (nullptr restores the real one). Each
// returns what was installed before, so a test can put it back.
System* InstallSystem(System* fake);
Files* InstallFiles(Files* fake);
Registry* InstallRegistry(Registry* fake);
Network* InstallNetwork(Network* fake);
Text* InstallText(Text* fake);

// The build's real implementations, one definition per platform.
System& RealSystem();
Files& RealFiles();
Registry& RealRegistry();
Network& RealNetwork();
Text& RealText();

}  // namespace platform
