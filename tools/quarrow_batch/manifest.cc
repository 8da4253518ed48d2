#include <cereal/archives/json.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/vector.hpp>

#include "manifest.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "atomic_file.h"

namespace quarrow::batch {

template <class Archive>
void serialize(Archive& archive, ShardEntry& shard) {
  archive(cereal::make_nvp("records", shard.records),
          cereal::make_nvp("images_json_checksum", shard.images_json_checksum));
}

template <class Archive>
void serialize(Archive& archive, Manifest& manifest) {
  archive(cereal::make_nvp("source_folder", manifest.source_folder),
          cereal::make_nvp("images_json_checksum", manifest.images_json_checksum),
          cereal::make_nvp("record_count", manifest.record_count),
          cereal::make_nvp("shards", manifest.shards));
}

std::string file_checksum(const std::string& path) {
  std::ifstream input(path, std::ios::binary);
  if (!input) return "";
  std::uint64_t hash = 14695981039346656037ull;
  std::uint64_t size = 0;
  char buffer[1 << 16];
  while (input) {
    input.read(buffer, sizeof buffer);
    const std::streamsize got = input.gcount();
    for (std::streamsize i = 0; i < got; ++i) {
      hash ^= static_cast<unsigned char>(buffer[i]);
      hash *= 1099511628211ull;
    }
    size += static_cast<std::uint64_t>(got);
  }
  if (input.bad()) return "";
  char text[64];
  std::snprintf(text, sizeof text, "fnv1a64:%016llx:", static_cast<unsigned long long>(hash));
  return text + std::to_string(size);
}

bool write_manifest(const std::string& path, const Manifest& manifest, std::string& error) {
  std::ostringstream text;
  {
    cereal::JSONOutputArchive archive(text);
    archive(cereal::make_nvp("manifest", const_cast<Manifest&>(manifest)));
  }
  text << "\n";
  return write_file_atomically(path, text.str(), error);
}

bool read_manifest(const std::string& path, Manifest& manifest, std::string& error) {
  std::ifstream input(path);
  if (!input) {
    error = "no manifest " + path + " (run quarrow-batch split first)";
    return false;
  }
  try {
    cereal::JSONInputArchive archive(input);
    archive(cereal::make_nvp("manifest", manifest));
  } catch (const cereal::Exception& e) {
    error = "manifest " + path + " can't be read: " + e.what();
    return false;
  }
  for (const ShardEntry& shard : manifest.shards) {
    for (std::uint64_t index : shard.records) {
      if (index >= manifest.record_count) {
        error = "manifest " + path + " names a record outside images.json";
        return false;
      }
    }
  }
  return true;
}

}  // namespace quarrow::batch
