#include "tolv_run.h"

namespace tolv::test {

ProgramRun RunTolv(const std::string& args, const std::string& cwd, const std::vector<std::string>& env,
                   const std::string& program) {
  return RunProgram(program.empty() ? BuildBinDir() + "/tolv" : program, args, cwd, env);
}

}  // namespace tolv::test
