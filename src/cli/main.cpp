// tolv: the window's commands from the command line.
#include "cli/commands.h"

int main(int argc, char** argv) { return tolv::cli::Run(std::vector<std::string>(argv + 1, argv + argc)); }
