// tolv: the window's commands from the command line.
#include "cli/command_table.h"
#include "link/hard_stop.h"

int main(int argc, char** argv) {
  // A signal that ends the program while it holds a serial port releases the
  // port first, so that the next run can open it.
  tolv::Link_ReleasePortsOnHardStop();
  return tolv::cli::Run(std::vector<std::string>(argv + 1, argv + argc));
}
