// The manifest of a split: what merge needs to know that the shards belong to
// this data folder and this images.json, and which records each shard holds.
// Stored as work_folder/manifest.json.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarrow::batch {

struct ShardEntry {
  std::vector<std::uint64_t> records;  // indices into the source images.json, ascending
  std::string images_json_checksum;    // of the shard's own images.json
};

struct Manifest {
  std::string source_folder;         // the data folder, absolute
  std::string images_json_checksum;  // of the source images.json
  std::uint64_t record_count = 0;    // records in the source images.json
  std::vector<ShardEntry> shards;
};

// "fnv1a64:<16 hex digits>:<size in bytes>" of a file's bytes, or "" when it
// cannot be read. It tells files apart; it is no defence against tampering.
std::string file_checksum(const std::string& path);

// Writes the manifest (through a temporary file and a rename). False with
// `error` set when it cannot be written.
bool write_manifest(const std::string& path, const Manifest& manifest, std::string& error);

// False with `error` set when the file is missing or not a manifest.
bool read_manifest(const std::string& path, Manifest& manifest, std::string& error);

}  // namespace quarrow::batch
