// Test helpers: runs a program with captured standard streams, and a
// temporary folder that removes itself.
#pragma once

#include <string>
#include <vector>

namespace quarrow::testing {

struct ProcessResult {
  int exit_code = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `program` with `arguments` (argument 0 is set to `program`), in
// `working_dir` when it is not empty, with standard input from /dev/null.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& working_dir = "");

// A fresh folder under the system's temporary folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Whole content of a file ("" when it cannot be read).
std::string read_file(const std::string& path);

// Creates or replaces a file with exactly `content`.
void write_file(const std::string& path, const std::string& content);

// `native` with every '/' turned into '\', the form in which quarrow prints paths.
std::string backslashed(const std::string& native);

}  // namespace quarrow::testing
