// Hooks into the Linux key store for tests.
#pragma once

#include <string>

namespace platform {
namespace posix {

// Closes the key store and drops every open key handle; the next registry
// operation finds the store again from the environment (XDG_CONFIG_HOME,
// HOME). Lets a test point the store at a folder of its own.
void ResetKeyStore();

// The store file the current environment names.
std::string KeyStorePath();

}  // namespace posix
}  // namespace platform
