// Uses the registry helpers the way one run of the tool does.
//   registry_client write <tag> <count>  writes <count> values named
//       "<tag>-<i>" into a key every writer shares and into a key of its own
//   registry_client read <key> <name>    prints the value
//   registry_client delete <key>         deletes the key with its subkeys
// Prints one line per helper that answered 0; exits 0 when none did.
#include <iostream>
#include <string>

#include "utils/vkreg.h"

namespace {
const std::string kBase = "Software\\Sharemapper Tests\\";
}

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  int failures = 0;
  if (command == "write" && argc == 4) {
    const std::string tag = argv[2];
    const int count = std::stoi(argv[3]);
    std::string shared = kBase + "Shared";
    std::string own = kBase + "Writer " + tag;
    for (int i = 0; i < count; ++i) {
      std::string name = tag + "-" + std::to_string(i);
      std::string value = "value of " + name;
      for (std::string* key : {&shared, &own}) {
        if (DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, *key, name, value) != 1) {
          std::cout << "write failed: " << *key << " " << name << "\n";
          ++failures;
        }
      }
    }
  } else if (command == "read" && argc == 4) {
    std::string key = argv[2];
    std::string name = argv[3];
    std::string value;
    if (DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value) == 1) {
      std::cout << value << "\n";
    } else {
      std::cout << "read failed\n";
      ++failures;
    }
  } else if (command == "delete" && argc == 3) {
    std::string key = argv[2];
    if (DAVeruv::deleteRegisterItem(DAVeruv::kCurrentUser, key) != 1) {
      std::cout << "delete failed\n";
      ++failures;
    }
  } else {
    std::cout << "usage: registry_client write <tag> <count> | read <key> <name> | delete <key>\n";
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
