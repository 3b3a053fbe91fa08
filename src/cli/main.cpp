#include "cli/commands.h"

int main(int argc, char** argv) { return VkSharemapper::Run(argc, argv); }
