#include "local_runner.h"

#include <iostream>
#include <map>

#include "child_process.h"
#include "shard_outcome.h"

namespace quarrow::batch {

std::vector<int> slot_cpus(const std::vector<int>& cpus, std::size_t jobs, std::size_t slot) {
  if (cpus.empty() || jobs == 0) return {};
  const std::size_t n = cpus.size();
  if (jobs >= n) return {cpus[slot % n]};
  return std::vector<int>(cpus.begin() + static_cast<std::ptrdiff_t>(slot * n / jobs),
                          cpus.begin() + static_cast<std::ptrdiff_t>((slot + 1) * n / jobs));
}

bool run_shards_locally(const WorkLayout& layout, const std::vector<std::size_t>& shards,
                        std::size_t jobs, const ShardRunSpec& request, std::string& error) {
  if (jobs == 0) jobs = 1;
  const std::vector<int> cpus = allowed_cpus();
  struct Running {
    std::size_t shard;
    std::size_t slot;
  };
  std::map<pid_t, Running> running;
  std::vector<std::size_t> free_slots;
  for (std::size_t slot = jobs; slot-- > 0;) free_slots.push_back(slot);

  bool ok = true;
  std::size_t next = 0;
  while (next < shards.size() || !running.empty()) {
    while (ok && next < shards.size() && !free_slots.empty()) {
      const std::size_t slot = free_slots.back();
      ShardRunSpec slot_spec = request;
      slot_spec.cpus = slot_cpus(cpus, jobs, slot);
      slot_spec.threads = static_cast<int>(slot_spec.cpus.size());
      const pid_t pid = start_shard(layout, shards[next], slot_spec, error);
      if (pid < 0) {
        ok = false;
        break;
      }
      free_slots.pop_back();
      running[pid] = {shards[next], slot};
      ++next;
    }
    if (!ok) next = shards.size();  // no new starts; the running ones end
    if (running.empty()) break;
    const auto [pid, status] = wait_any_child();
    if (pid < 0) break;
    const auto it = running.find(pid);
    if (it == running.end()) continue;
    const std::size_t shard = it->second.shard;
    free_slots.push_back(it->second.slot);
    running.erase(it);
    std::string exit_error;
    if (!finish_shard(layout, shard, status, exit_error)) {
      if (ok) error = exit_error;
      ok = false;
    }
    std::cout << WorkLayout::shard_name(shard) << ": quarrow ended with " << exit_text(status)
              << std::endl;
  }
  return ok;
}

}  // namespace quarrow::batch
