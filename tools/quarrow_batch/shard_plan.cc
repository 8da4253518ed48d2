#include "shard_plan.h"

#include <algorithm>
#include <unordered_map>

namespace quarrow::batch {

std::vector<std::vector<std::size_t>> plan_shards(const std::vector<PlannedRecord>& records,
                                                  std::size_t shard_count) {
  std::vector<std::vector<std::size_t>> groups;
  std::unordered_map<std::string, std::size_t> group_of_key;
  for (const PlannedRecord& record : records) {
    const auto [it, added] = group_of_key.emplace(record.output_key, groups.size());
    if (added) groups.emplace_back();
    groups[it->second].push_back(record.index);
  }

  const std::size_t count = std::max<std::size_t>(1, std::min(shard_count, groups.size()));
  std::vector<std::vector<std::size_t>> shards(shard_count == 0 ? 0 : count);
  if (shards.empty()) return shards;
  for (const std::vector<std::size_t>& group : groups) {
    auto smallest = std::min_element(
        shards.begin(), shards.end(),
        [](const auto& a, const auto& b) { return a.size() < b.size(); });
    smallest->insert(smallest->end(), group.begin(), group.end());
  }
  for (std::vector<std::size_t>& shard : shards) std::sort(shard.begin(), shard.end());
  return shards;
}

}  // namespace quarrow::batch
