// Reads tensors from a TensorFlow V2 checkpoint ("tensor bundle"): the table
// `<prefix>.index` maps each key to a BundleEntryProto that locates the
// tensor's bytes in one of the `<prefix>.data-SSSSS-of-NNNNN` shards. Every
// tensor is checked against its stored size and masked CRC32C before use.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/status.h"
#include "core/tensor.h"
#include "tensor_bundle.pb.h"
#include "util/file.h"

namespace qtf {

class BundleReader {
 public:
  // Reads and checks the index; data shards are opened on first use.
  Status open(const std::string& prefix);

  bool contains(const std::string& key) const { return entries_.count(key) > 0; }
  std::vector<std::string> keys() const;
  const tensorflow::BundleHeaderProto& header() const { return header_; }

  // The whole tensor stored under `key`. NOT_FOUND for an unknown key,
  // UNIMPLEMENTED for partitioned or unsupported entries, DATA_LOSS for
  // anything that does not match its entry.
  Status read(const std::string& key, Tensor* out);

 private:
  Status shard(int id, const RandomAccessFile** file);

  std::string prefix_;
  tensorflow::BundleHeaderProto header_;
  std::map<std::string, tensorflow::BundleEntryProto> entries_;
  // Opened on first use; a header may claim any number of shards, so nothing
  // is allocated per claimed shard up front.
  std::map<int, RandomAccessFile> shards_;
};

// Shard file name: "<prefix>.data-00000-of-00001".
std::string bundle_data_path(const std::string& prefix, int shard, int num_shards);

// Decodes the bundle's string layout (N varint64 lengths, masked CRC32C of the
// lengths, then the bytes); `*crc` receives the running CRC the entry stores.
Status decode_bundle_strings(const std::string& bytes, int64_t count, const std::string& where,
                             std::vector<std::string>* values, uint32_t* crc);

}  // namespace qtf
