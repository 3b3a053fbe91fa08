#include <ostream>

#include "cli/commands.h"
#include "cli/drive_list_output.h"
#include "cli/result.h"
#include "disk/query.h"

namespace VkSharemapper {

int RunQueryCommand(const SmOption& options, std::ostream& out) {
  DriveList list;
  QueryNetDisks(list);
  if (options.form) {
    PrintFormTable(out, list);
  } else {
    out << BuildListResult("query success", BuildQueryRecords(list)) << std::endl;
  }
  return kExitSuccess;
}

}  // namespace VkSharemapper
