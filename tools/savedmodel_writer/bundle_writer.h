// BundleWriter: writes a TensorFlow V2 checkpoint (tensor bundle): the
// `<prefix>.index` table holding a BundleHeaderProto under the empty key and
// one BundleEntryProto per tensor, and the single data file
// `<prefix>.data-00000-of-00001` with the tensors' bytes, each checked by a
// masked CRC32C. String tensors use the bundle's string layout (varint
// lengths, masked CRC of the lengths, then the bytes).
#pragma once

#include <map>
#include <string>

#include "core/status.h"
#include "savedmodel_writer.h"

namespace qsm {

class BundleWriter {
 public:
  // Adds a tensor under `key` (any order; keys are sorted when written).
  // Fails on a duplicate key or a value whose data does not match its shape.
  qtf::Status add(const std::string& key, const TensorValue& value);
  // Produces both files' contents.
  qtf::Status finish(std::string* index_file, std::string* data_file) const;
  // Writes <prefix>.index and <prefix>.data-00000-of-00001.
  qtf::Status write(const std::string& prefix) const;

 private:
  std::map<std::string, TensorValue> tensors_;
};

// The bytes a tensor occupies in a data file, and the entry CRC (unmasked)
// over them as TensorFlow computes it.
std::string bundle_tensor_bytes(const TensorValue& value, uint32_t* crc);

}  // namespace qsm
