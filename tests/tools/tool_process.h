// Runs the quarrow-models binary as a process and collects what it printed,
// for the tests that drive it from the command line.
#pragma once

#include <unistd.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace quarrow::models::testing {

struct Result {
  int code = -1;
  std::string out, err;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// `args` go through the shell as written.
inline Result run_tool(const std::string& args) {
  const std::string base = ::testing::TempDir() + "/" + std::to_string(getpid()) + "_qmodels_cmd";
  const std::string cmd = std::string(QUARROW_MODELS_BIN) + " " + args + " >" + base + ".out 2>" + base + ".err";
  Result r;
  const int status = std::system(cmd.c_str());
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = read_file(base + ".out");
  r.err = read_file(base + ".err");
  return r;
}

}  // namespace quarrow::models::testing
