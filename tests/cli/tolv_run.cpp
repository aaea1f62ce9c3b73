#include "tolv_run.h"

#include <sstream>

namespace tolv::test {

TolvResult RunTolv(const std::string& args, const std::string& cwd, const std::vector<std::string>& env,
                   const std::string& program) {
  const ProgramRun run = RunProgram(program.empty() ? BuildBinDir() + "/tolv" : program, args, cwd, env);
  return {run.status, run.out, run.err};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace tolv::test
