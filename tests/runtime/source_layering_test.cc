// The runtime's folders form layers; a file may include only its own folder
// and the layers below it. A violation is caught here rather than by the
// next person who tries to reuse a lower layer on its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What each folder of runtime/src may include besides itself. exec plans
// graphs and may know the kernels' shared headers (activations.h) but none
// of one backend's internals in kernels/<backend>/.
const std::map<std::string, std::set<std::string>>& allowed_layers() {
  static const std::map<std::string, std::set<std::string>> layers = {
      {"threading", {}},
      {"util", {"core"}},  // util uses core/status.h only; checked below
      {"core", {"util"}},
      {"graph", {"core", "util"}},
      {"checkpoint", {"core", "util"}},
      {"kernels", {"core", "util", "graph", "checkpoint", "threading"}},
      {"exec", {"core", "util", "graph", "checkpoint", "threading", "kernels"}},
      {"capi", {"core", "util", "graph", "checkpoint", "threading", "kernels", "exec"}},
  };
  return layers;
}

struct Include {
  std::string file;  // relative to runtime/src
  std::string target;
};

std::vector<Include> project_includes(const fs::path& root) {
  static const std::regex include_line(R"(^\s*#\s*include\s+"([^"]+)\")");
  std::vector<Include> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string ext = entry.path().extension().string();
    if (!entry.is_regular_file() || (ext != ".cc" && ext != ".h")) continue;
    std::ifstream in(entry.path());
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
      if (std::regex_search(line, m, include_line)) {
        found.push_back({fs::relative(entry.path(), root).generic_string(), m[1].str()});
      }
    }
  }
  return found;
}

std::string first_part(const std::string& path) { return path.substr(0, path.find('/')); }

// "kernels/dnnl/x.h" -> "kernels/dnnl"; "kernels/x.h" -> "kernels".
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

TEST(SourceLayeringTest, EveryRuntimeIncludeStaysInItsLayer) {
  const fs::path root = QUARROW_RUNTIME_SOURCE_DIR;
  const std::vector<Include> includes = project_includes(root);
  ASSERT_GT(includes.size(), 100u) << "no sources found under " << root;
  std::vector<std::string> violations;
  for (const Include& inc : includes) {
    const std::string from = first_part(inc.file), to = first_part(inc.target);
    const auto layer = allowed_layers().find(from);
    if (layer == allowed_layers().end()) {
      violations.push_back(inc.file + ": folder '" + from + "' has no layer");
      continue;
    }
    if (!fs::exists(root / to) || to == from) {
      // Same folder, or a header outside runtime/src (generated protos, the C API).
      if (to == from && from == "kernels" && folder_of(inc.target) != "kernels" &&
          folder_of(inc.target) != folder_of(inc.file)) {
        // A kernel family may use the shared kernel headers, not another family's.
        violations.push_back(inc.file + " includes " + inc.target);
      }
      continue;
    }
    bool ok = layer->second.count(to) > 0;
    if (ok && from == "exec" && to == "kernels" && folder_of(inc.target) != "kernels") ok = false;
    if (ok && from == "util" && inc.target != "core/status.h") ok = false;
    if (!ok) violations.push_back(inc.file + " includes " + inc.target);
  }
  std::string list;
  for (const std::string& v : violations) list += "\n  " + v;
  EXPECT_TRUE(violations.empty()) << "layering violations:" << list;
}

}  // namespace
