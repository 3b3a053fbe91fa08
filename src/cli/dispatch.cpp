#include <iostream>

#include "cli/commands.h"
#include "cli/result.h"

namespace VkSharemapper {

int Run(int argc, char** argv) {
  SmOption options;
  options.ProcOptions(argc, argv);

  if (options.add) return RunAddCommand(options, std::cout);
  if (options.del) return RunDeleteCommand(options, std::cout);
  if (options.query) return RunQueryCommand(options, std::cout);
  return kExitSuccess;
}

}  // namespace VkSharemapper
