#include "cli/commands.h"
#include "cli/console_output.h"
#include "cli/result.h"

namespace VkSharemapper {

int Run(int argc, char** argv) {
  SmOption options;
  options.ProcOptions(argc, argv);

  ConsoleOutput out(ResultEncoding(options.form));
  if (options.add) return RunAddCommand(options, out);
  if (options.del) return RunDeleteCommand(options, out);
  if (options.query) return RunQueryCommand(options, out);
  return kExitSuccess;
}

}  // namespace VkSharemapper
