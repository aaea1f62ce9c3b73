// Running the built tolv program in the end-to-end tests: its standard
// output, standard error and exit status.
#pragma once

#include <string>
#include <vector>

#include "test_support.h"

namespace tolv::test {

// Runs program (tolv in the build folder unless given; a path without the
// system's ".exe") with args as RunProgram takes them, in the folder cwd,
// standard input empty, with the environment entries env set on top
// ("HOME=/x").
ProgramRun RunTolv(const std::string& args, const std::string& cwd, const std::vector<std::string>& env = {},
                   const std::string& program = "");

}  // namespace tolv::test
