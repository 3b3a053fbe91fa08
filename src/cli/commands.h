// The commands that the dispatch runs: each writes its one result to out and
// returns the exit status, 0 or 20000.
#pragma once

#include <ostream>

#include "cli/options.h"

namespace VkSharemapper {

int RunAddCommand(const SmOption& options, std::ostream& out);
int RunDeleteCommand(const SmOption& options, std::ostream& out);
int RunQueryCommand(const SmOption& options, std::ostream& out);

// The entry routine: options, one command, the exit status. Help and rejected
// command lines end the process inside option processing.
int Run(int argc, char** argv);

}  // namespace VkSharemapper
