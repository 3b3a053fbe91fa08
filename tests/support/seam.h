// What the seam suites share: the names of the two kinds of layer each case
// runs against, and the sandbox the real layer works in.
#pragma once

#include <string>

#include "support/runner.h"

namespace seam {

// The real layer's key store and connection table are those of a sandbox of
// the test program's own, set before the layer's first use and removed at
// exit: the user's own are never touched.
inline void UseSandbox() {
  static testkit::Sandbox box("seam");
  static const bool used = (box.Use(), true);
  (void)used;
}

// Names the typed cases after their layer's kName ("Fake", "Real").
struct LayerNames {
  template <typename Layer>
  static std::string GetName(int) {
    return Layer::kName;
  }
};

}  // namespace seam
