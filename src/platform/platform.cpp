#include "platform/platform.h"

namespace platform {
namespace {
System* g_system = nullptr;
Files* g_files = nullptr;
Registry* g_registry = nullptr;
Network* g_network = nullptr;
Text* g_text = nullptr;

template <typename T>
T* Swap(T*& slot, T* replacement) {
  T* previous = slot;
  slot = replacement;
  return previous;
}
}  // namespace

System& system() { return g_system ? *g_system : RealSystem(); }
Files& files() { return g_files ? *g_files : RealFiles(); }
Registry& registry() { return g_registry ? *g_registry : RealRegistry(); }
Network& network() { return g_network ? *g_network : RealNetwork(); }
Text& text() { return g_text ? *g_text : RealText(); }

System* InstallSystem(System* fake) { return Swap(g_system, fake); }
Files* InstallFiles(Files* fake) { return Swap(g_files, fake); }
Registry* InstallRegistry(Registry* fake) { return Swap(g_registry, fake); }
Network* InstallNetwork(Network* fake) { return Swap(g_network, fake); }
Text* InstallText(Text* fake) { return Swap(g_text, fake); }

}  // namespace platform
