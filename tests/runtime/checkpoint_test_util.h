// Hand-built checkpoint files for the reader tests: a table writer with a
// choice of restart interval, block size and Snappy blocks, and a bundle
// writer. Kept independent of the readers so the tests check one against the other.
#pragma once

#include <snappy.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tensor_bundle.pb.h"
#include "util/coding.h"
#include "util/crc32c.h"

namespace qtf::testing {

struct TableOptions {
  int restart_interval = 16;
  size_t block_size = 4096;
  bool snappy = false;
};

// Writes `entries` (already sorted) as a table; the index keys are the last
// key of each block, which is a valid separator.
inline std::string build_table(const std::vector<std::pair<std::string, std::string>>& entries,
                               const TableOptions& options = TableOptions()) {
  std::string file;
  auto write_block = [&](const std::string& contents, bool compress) {
    std::string stored = contents;
    char type = 0;
    if (compress) {
      snappy::Compress(contents.data(), contents.size(), &stored);
      type = 1;
    }
    std::string handle;
    put_varint64(&handle, file.size());
    put_varint64(&handle, stored.size());
    file += stored;
    file.push_back(type);
    uint32_t crc = crc32c_extend(crc32c(stored.data(), stored.size()), &type, 1);
    put_fixed32(&file, crc32c_mask(crc));
    return handle;
  };
  struct Block {
    std::string buffer;
    std::vector<uint32_t> restarts{0};
    std::string last_key;
    int count = 0;
    void add(const std::string& key, const std::string& value, int interval) {
      size_t shared = 0;
      if (count > 0 && count % interval == 0) {
        restarts.push_back(static_cast<uint32_t>(buffer.size()));
      } else if (count > 0) {
        while (shared < key.size() && shared < last_key.size() && key[shared] == last_key[shared]) {
          ++shared;
        }
      }
      put_varint64(&buffer, shared);
      put_varint64(&buffer, key.size() - shared);
      put_varint64(&buffer, value.size());
      buffer.append(key, shared, std::string::npos);
      buffer += value;
      last_key = key;
      ++count;
    }
    std::string finish() {
      std::string out = buffer;
      for (uint32_t r : restarts) put_fixed32(&out, r);
      put_fixed32(&out, static_cast<uint32_t>(restarts.size()));
      return out;
    }
  };
  Block data, index;
  auto flush = [&]() {
    if (data.count == 0) return;
    const std::string handle = write_block(data.finish(), options.snappy);
    index.add(data.last_key, handle, 1);
    data = Block();
  };
  for (const auto& [key, value] : entries) {
    data.add(key, value, options.restart_interval);
    if (data.buffer.size() >= options.block_size) flush();
  }
  flush();
  Block metaindex;
  const std::string metaindex_handle = write_block(metaindex.finish(), false);
  const std::string index_handle = write_block(index.finish(), false);
  std::string footer = metaindex_handle + index_handle;
  footer.resize(40, '\0');
  put_fixed64(&footer, 0xdb4775248b80fb57ull);
  return file + footer;
}

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Builds a single-shard bundle in memory.
class BundleBuilder {
 public:
  void add_raw(const std::string& key, tensorflow::DataType dtype, const std::vector<int64_t>& shape,
               const std::string& bytes) {
    tensorflow::BundleEntryProto entry;
    entry.set_dtype(dtype);
    for (int64_t d : shape) entry.mutable_shape()->add_dim()->set_size(d);
    entry.set_offset(static_cast<int64_t>(data_.size()));
    entry.set_size(static_cast<int64_t>(bytes.size()));
    entry.set_crc32c(crc32c_mask(crc32c(bytes.data(), bytes.size())));
    data_ += bytes;
    entries_.emplace_back(key, entry);
  }

  template <typename T>
  void add(const std::string& key, tensorflow::DataType dtype, const std::vector<int64_t>& shape,
           const std::vector<T>& values) {
    add_raw(key, dtype, shape,
            std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T)));
  }

  void add_strings(const std::string& key, const std::vector<int64_t>& shape,
                   const std::vector<std::string>& values) {
    std::string bytes, fixed;
    for (const auto& v : values) {
      put_varint64(&bytes, v.size());
      put_fixed32(&fixed, static_cast<uint32_t>(v.size()));
    }
    uint32_t crc = crc32c(fixed.data(), fixed.size());
    std::string checksum;
    put_fixed32(&checksum, crc32c_mask(crc));
    bytes += checksum;
    crc = crc32c_extend(crc, checksum.data(), 4);
    for (const auto& v : values) {
      bytes += v;
      crc = crc32c_extend(crc, v.data(), v.size());
    }
    tensorflow::BundleEntryProto entry;
    entry.set_dtype(tensorflow::DT_STRING);
    for (int64_t d : shape) entry.mutable_shape()->add_dim()->set_size(d);
    entry.set_offset(static_cast<int64_t>(data_.size()));
    entry.set_size(static_cast<int64_t>(bytes.size()));
    entry.set_crc32c(crc32c_mask(crc));
    data_ += bytes;
    entries_.emplace_back(key, entry);
  }

  tensorflow::BundleEntryProto& entry(const std::string& key) {
    for (auto& e : entries_) {
      if (e.first == key) return e.second;
    }
    return entries_.front().second;
  }
  tensorflow::BundleHeaderProto& header() { return header_; }
  std::string& data() { return data_; }

  std::string index(const TableOptions& options = TableOptions()) const {
    std::vector<std::pair<std::string, std::string>> rows;
    rows.emplace_back("", header_.SerializeAsString());
    auto sorted = entries_;
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [key, entry] : sorted) rows.emplace_back(key, entry.SerializeAsString());
    return build_table(rows, options);
  }

  // Writes <prefix>.index and <prefix>.data-00000-of-00001.
  void write(const std::string& prefix, const TableOptions& options = TableOptions()) const {
    write_file(prefix + ".index", index(options));
    write_file(prefix + ".data-00000-of-00001", data_);
  }

  BundleBuilder() {
    header_.set_num_shards(1);
    header_.mutable_version()->set_producer(1);
  }

 private:
  tensorflow::BundleHeaderProto header_;
  std::vector<std::pair<std::string, tensorflow::BundleEntryProto>> entries_;
  std::string data_;
};

}  // namespace qtf::testing
