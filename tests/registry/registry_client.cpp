// Uses the registry helpers as one run of the tool does.
//   registry_client write <tag> <count>  writes values "<tag>-<i>" into a key
//                                        shared by all writers and one of its own
//   registry_client delete <key>         deletes a key tree
// Exits 0 when every helper answered 1.
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
  } else if (command == "delete" && argc == 3) {
    std::string key = argv[2];
    failures = DAVeruv::deleteRegisterItem(DAVeruv::kCurrentUser, key) == 1 ? 0 : 1;
  } else {
    std::cout << "usage: registry_client write <tag> <count> | delete <key>\n";
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
