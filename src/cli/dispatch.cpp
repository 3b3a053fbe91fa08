#include "cli/commands.h"
#include "cli/console_output.h"
#include "cli/drive_list_output.h"
#include "cli/result.h"
#include "disk/query.h"

namespace VkSharemapper {

void RunQueryCommand(const SmOption& options, int& /*status*/, std::ostream& out) {
  DriveList list;
  QueryNetDisks(list);
  if (options.form) {
    PrintFormTable(out, list);
  } else {
    out << BuildListResult("query success", BuildQueryRecords(list)) << std::endl;
  }
}

int Run(int argc, char** argv) {
  SmOption options;
  options.ProcOptions(argc, argv);

  int status = kExitSuccess;
  ConsoleOutput out(ResultEncoding(options.form));
  if (options.add) {
    RunAddCommand(options, status, out);
  } else if (options.del) {
    RunDeleteCommand(options, status, out);
  } else if (options.query) {
    RunQueryCommand(options, status, out);
  }
  return status;
}

}  // namespace VkSharemapper
