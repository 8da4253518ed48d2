// quarrow-batch: runs quarrow over a data folder in shards, as local
// processes or as a Slurm job array, and merges the shards' results into
// the data folder as one quarrow run would have left it.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "local_runner.h"
#include "manifest.h"
#include "merge.h"
#include "shard_run.h"
#include "slurm_job.h"
#include "split.h"
#include "work_layout.h"

namespace {

using namespace quarrow::batch;

const char kUsage[] =
    "usage: quarrow-batch split <data_folder> <work_dir> --shards N\n"
    "       quarrow-batch merge <data_folder> <work_dir>\n"
    "       quarrow-batch run <model_folder> <data_folder> --shards N --jobs J [--work-dir W]\n"
    "       quarrow-batch slurm <model_folder> <data_folder> --shards N [--work-dir W]\n"
    "                     [--partition P] [--cpus-per-task C] [--time T] [--wait]\n"
    "       quarrow-batch run-shard <model_folder> <work_dir> <shard>\n"
    "run, slurm and run-shard take --quarrow PATH (default: the quarrow beside this program)\n";

struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  std::set<std::string> flags;
};

// Options with a value and flags that `command` accepts; false on anything else.
bool parse_arguments(int argc, char** argv, const std::set<std::string>& valued,
                     const std::set<std::string>& flags, Arguments& parsed) {
  for (int i = 2; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("--", 0) != 0) {
      parsed.positional.push_back(word);
      continue;
    }
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    if (flags.count(name) && equals == std::string::npos) {
      parsed.flags.insert(name);
    } else if (valued.count(name)) {
      if (equals != std::string::npos) {
        parsed.options[name] = word.substr(equals + 1);
      } else if (i + 1 < argc) {
        parsed.options[name] = argv[++i];
      } else {
        std::cerr << "Error: " << name << " needs a value" << std::endl;
        return false;
      }
    } else {
      std::cerr << "Error: unknown option " << word << std::endl;
      return false;
    }
  }
  return true;
}

// A whole positive number, or false.
bool count_option(const Arguments& arguments, const std::string& name, bool required,
                  std::size_t& value) {
  const auto it = arguments.options.find(name);
  if (it == arguments.options.end()) {
    if (required) std::cerr << "Error: " << name << " N is required" << std::endl;
    return !required;
  }
  char* end = nullptr;
  const unsigned long long number = std::strtoull(it->second.c_str(), &end, 10);
  if (it->second.empty() || *end != '\0' || number == 0 || it->second[0] == '-' ||
      number > 1000000) {
    std::cerr << "Error: " << name << " must be a whole number from 1 to 1000000, not \""
              << it->second << "\"" << std::endl;
    return false;
  }
  value = static_cast<std::size_t>(number);
  return true;
}

std::string absolute(const std::string& path) {
  return std::filesystem::absolute(path).lexically_normal().string();
}

std::string quarrow_program(const Arguments& arguments) {
  const auto it = arguments.options.find("--quarrow");
  return it == arguments.options.end() ? default_quarrow_program() : it->second;
}

std::string work_folder(const Arguments& arguments, const std::string& data_folder) {
  const auto it = arguments.options.find("--work-dir");
  return it != arguments.options.end() ? it->second : data_folder + "/batch";
}

// The program's own absolute path, for scripts that run it on other nodes.
std::string this_program() {
  std::error_code code;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", code);
  return code ? "quarrow-batch" : self.string();
}

// The absolute form of `program`, looked up in PATH when it holds no '/'.
std::string program_path(const std::string& program) {
  if (program.find('/') != std::string::npos) return absolute(program);
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  std::size_t start = 0;
  while (start <= folders.size()) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::filesystem::path candidate =
        std::filesystem::path(folders.substr(start, end - start)) / program;
    std::error_code code;
    if (std::filesystem::is_regular_file(candidate, code)) return absolute(candidate.string());
    start = end + 1;
  }
  return program;
}

int split_command(const Arguments& arguments) {
  std::size_t shards = 0;
  if (arguments.positional.size() != 2) {
    std::cerr << kUsage;
    return 1;
  }
  if (!count_option(arguments, "--shards", true, shards)) return 1;
  Manifest manifest;
  std::string error;
  if (!split_data_folder(arguments.positional[0], arguments.positional[1], shards, manifest,
                         error)) {
    std::cerr << "Error: " << error << std::endl;
    return 1;
  }
  std::size_t records = 0;
  for (const ShardEntry& shard : manifest.shards) records += shard.records.size();
  std::cout << "Split " << records << " of " << manifest.record_count << " records into "
            << manifest.shards.size() << " shards in " << absolute(arguments.positional[1])
            << std::endl;
  if (manifest.shards.size() < shards) {
    std::cout << "(" << shards << " asked for; there are no more groups of records to give out)"
              << std::endl;
  }
  return 0;
}

int merge_command(const Arguments& arguments) {
  if (arguments.positional.size() != 2) {
    std::cerr << kUsage;
    return 1;
  }
  const MergeResult result = merge_shards(arguments.positional[0], arguments.positional[1]);
  if (result.merged) {
    std::cout << "Merged the shards of " << absolute(arguments.positional[1]) << " into "
              << data_paths(arguments.positional[0]).outdoor_flag_json << std::endl;
  }
  return result.exit_code;
}

int run_shard_command(const Arguments& arguments) {
  if (arguments.positional.size() != 3) {
    std::cerr << kUsage;
    return 1;
  }
  char* end = nullptr;
  const std::string& index_text = arguments.positional[2];
  const unsigned long long index = std::strtoull(index_text.c_str(), &end, 10);
  if (index_text.empty() || *end != '\0' || index_text[0] == '-') {
    std::cerr << "Error: shard number \"" << index_text << "\" is not a whole number" << std::endl;
    return 1;
  }
  ShardRunSpec request;
  request.quarrow = quarrow_program(arguments);
  request.model_folder = absolute(arguments.positional[0]);
  return run_one_shard(WorkLayout(arguments.positional[1]), static_cast<std::size_t>(index), request);
}

// Splits for run and slurm; the number of shards made, or 0 after an error.
std::size_t split_for_run(const std::string& data_folder, const std::string& work,
                          std::size_t shards) {
  Manifest manifest;
  std::string error;
  if (!split_data_folder(data_folder, work, shards, manifest, error)) {
    std::cerr << "Error: " << error << std::endl;
    return 0;
  }
  return manifest.shards.size();
}

int run_command(const Arguments& arguments) {
  std::size_t shards = 0;
  std::size_t jobs = 0;
  if (arguments.positional.size() != 2) {
    std::cerr << kUsage;
    return 1;
  }
  if (!count_option(arguments, "--shards", true, shards) ||
      !count_option(arguments, "--jobs", true, jobs)) {
    return 1;
  }
  const std::string data_folder = arguments.positional[1];
  const std::string work = work_folder(arguments, data_folder);
  const std::size_t made = split_for_run(data_folder, work, shards);
  if (made == 0) return 1;
  ShardRunSpec request;
  request.quarrow = quarrow_program(arguments);
  request.model_folder = absolute(arguments.positional[0]);
  std::vector<std::size_t> all(made);
  for (std::size_t s = 0; s < made; ++s) all[s] = s;
  std::string error;
  if (!run_shards_locally(WorkLayout(work), all, jobs, request, error)) {
    std::cerr << "Error: " << error << std::endl;
    return 1;
  }
  return merge_command(Arguments{{data_folder, work}, {}, {}});
}

int slurm_command(const Arguments& arguments) {
  std::size_t shards = 0;
  std::size_t cpus = 0;
  if (arguments.positional.size() != 2) {
    std::cerr << kUsage;
    return 1;
  }
  if (!count_option(arguments, "--shards", true, shards) ||
      !count_option(arguments, "--cpus-per-task", false, cpus)) {
    return 1;
  }
  SlurmJobSpec request;
  request.batch_program = this_program();
  request.quarrow = program_path(quarrow_program(arguments));
  request.model_folder = absolute(arguments.positional[0]);
  request.data_folder = absolute(arguments.positional[1]);
  request.work_folder = WorkLayout(work_folder(arguments, request.data_folder)).folder();
  request.cpus_per_task = static_cast<int>(cpus);
  if (arguments.options.count("--partition")) request.partition = arguments.options.at("--partition");
  if (arguments.options.count("--time")) request.time_limit = arguments.options.at("--time");
  std::string error;
  if (!check_slurm_paths(request, error)) {
    std::cerr << "Error: " << error << std::endl;
    return 1;
  }
  request.shards = split_for_run(request.data_folder, request.work_folder, shards);
  if (request.shards == 0) return 1;
  return submit_slurm_jobs(request, arguments.flags.count("--wait") > 0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc >= 2 ? argv[1] : "";
  struct Command {
    std::set<std::string> valued;
    std::set<std::string> flags;
    int (*run)(const Arguments&);
  };
  const std::map<std::string, Command> commands = {
      {"split", {{"--shards"}, {}, split_command}},
      {"merge", {{}, {}, merge_command}},
      {"run-shard", {{"--quarrow"}, {}, run_shard_command}},
      {"run", {{"--shards", "--jobs", "--work-dir", "--quarrow"}, {}, run_command}},
      {"slurm",
       {{"--shards", "--work-dir", "--partition", "--cpus-per-task", "--time", "--quarrow"},
        {"--wait"},
        slurm_command}},
  };
  const auto it = commands.find(command);
  if (it == commands.end()) {
    std::cerr << kUsage;
    return 1;
  }
  Arguments arguments;
  if (!parse_arguments(argc, argv, it->second.valued, it->second.flags, arguments)) return 1;
  return it->second.run(arguments);
}
