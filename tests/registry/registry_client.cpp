// Uses the registry helpers as one run of the tool does.
//   registry_client write <tag> <count>  writes values "<tag>-<i>" into a key
//                                        shared by all writers and one of its own
//   registry_client delete <key>         deletes a key tree
//   registry_client read <key> <name>    prints the value, "(none)" when unread
// Exits 0 when every helper answered 1 (a read always).
#include <iostream>
#include <string>

#include "utils/vkreg.h"

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  int failures = 0;
  if (command == "write" && argc == 4) {
    const std::string tag = argv[2];
    std::string shared = "Software\\Tests\\Shared", own = "Software\\Tests\\Writer " + tag;
    for (int i = 0; i < std::stoi(argv[3]); ++i) {
      std::string name = tag + "-" + std::to_string(i), value = "value of " + name;
      for (std::string* key : {&shared, &own}) {
        if (DAVeruv::addRegisterKey(DAVeruv::kCurrentUser, *key, name, value) != 1) {
          std::cout << "write failed: " << *key << " " << name << "\n";
          ++failures;
        }
      }
    }
  } else if (command == "read" && argc == 4) {
    std::string key = argv[2], name = argv[3], value = "(none)";
    DAVeruv::ReadRegisterKey(DAVeruv::kCurrentUser, key, name, value);
    std::cout << value;
  } else if (command == "delete" && argc == 3) {
    std::string key = argv[2];
    failures = DAVeruv::deleteRegisterItem(DAVeruv::kCurrentUser, key) == 1 ? 0 : 1;
  } else {
    std::cout << "usage: registry_client write <tag> <count> | read <key> <name> | delete <key>\n";
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
