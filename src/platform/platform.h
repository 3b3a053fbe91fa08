// The one seam between the program and the operating system. Each concern
// has an interface; the accessors below hand out the build's real
// implementation unless a test has put a fake in its place.
#pragma once

#include "platform/console.h"
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
Console& console();

// For tests: while it lives, the given implementations (any of the six
// concerns, in any order) stand in for the layer; a null one means the real
// implementation, a concern not given stays as it was. Its end puts back
// what was there before.
class Override {
 public:
  template <typename... Fakes>
  explicit Override(Fakes*... fakes) : previous_(Current()) {
    Layer layer = previous_;
    (Put(layer, fakes), ...);
    Current() = layer;
  }
  ~Override() { Current() = previous_; }
  Override(const Override&) = delete;
  Override& operator=(const Override&) = delete;

  struct Layer {
    System* system = nullptr;
    Files* files = nullptr;
    Registry* registry = nullptr;
    Network* network = nullptr;
    Text* text = nullptr;
    Console* console = nullptr;
  };
  static Layer& Current();

 private:
  static void Put(Layer& layer, System* fake) { layer.system = fake; }
  static void Put(Layer& layer, Files* fake) { layer.files = fake; }
  static void Put(Layer& layer, Registry* fake) { layer.registry = fake; }
  static void Put(Layer& layer, Network* fake) { layer.network = fake; }
  static void Put(Layer& layer, Text* fake) { layer.text = fake; }
  static void Put(Layer& layer, Console* fake) { layer.console = fake; }

  Layer previous_;
};

}  // namespace platform
