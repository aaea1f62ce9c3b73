#include "tolv_run.h"

#include <sstream>

namespace tolv::test {

TolvResult RunTolv(const std::string& args, const std::string& cwd, const std::string& env,
                   const std::string& program) {
  TempDir logs;
  const std::string out = logs.File("out.txt");
  const std::string err = logs.File("err.txt");
  const std::string tolv = program.empty() ? BuildBinDir() + "/tolv" : program;
  const std::string command = "( cd '" + cwd + "' && " + env + " '" + tolv + "' " + args + " </dev/null >'" +
                              out + "' 2>'" + err + "' )";
  TolvResult result;
  result.status = RunCommand(command);
  const std::vector<uint8_t> outBytes = ReadBytes(out);
  const std::vector<uint8_t> errBytes = ReadBytes(err);
  result.out.assign(outBytes.begin(), outBytes.end());
  result.err.assign(errBytes.begin(), errBytes.end());
  return result;
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
