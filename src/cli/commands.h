// The commands that the dispatch runs: each writes its one result to out and
// sets status to 20000 when it fails.
#pragma once

#include <ostream>

#include "cli/options.h"

namespace VkSharemapper {

void RunAddCommand(const SmOption& options, int& status, std::ostream& out);
void RunDeleteCommand(const SmOption& options, int& status, std::ostream& out);
void RunQueryCommand(const SmOption& options, int& status, std::ostream& out);

// The entry routine: options, one command, the exit status. Help and rejected
// command lines end the process inside option processing.
int Run(int argc, char** argv);

}  // namespace VkSharemapper
