#include "checkpoint/bundle_reader.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>
#include <tuple>

#include "checkpoint/table.h"
#include "util/coding.h"
#include "util/crc32c.h"

namespace qtf {
namespace {

// The bundle format version this reader understands (TensorFlow's kTensorBundleVersion).
constexpr int kBundleConsumerVersion = 1;

// Takes the stored enum value as an int: a corrupt entry may hold a number
// outside TF_DataType, which must not be converted before it is checked.
bool readable_numeric(int dtype) {
  switch (dtype) {
    case TF_FLOAT: case TF_DOUBLE: case TF_INT8: case TF_INT16: case TF_INT32: case TF_INT64:
    case TF_UINT8: case TF_UINT16: case TF_UINT32: case TF_UINT64: case TF_BOOL: case TF_HALF:
    case TF_BFLOAT16:
      return true;
    default:
      return false;
  }
}

void swap_bytes(char* data, size_t element_size, size_t count) {
  for (size_t i = 0; i < count; ++i) std::reverse(data + i * element_size, data + (i + 1) * element_size);
}

bool host_is_little_endian() {
  const uint16_t probe = 1;
  return *reinterpret_cast<const uint8_t*>(&probe) == 1;
}

Status shape_from_entry(const tensorflow::BundleEntryProto& entry, const std::string& where,
                        Shape* shape, int64_t* count) {
  if (entry.shape().unknown_rank()) return data_loss(where + ": stored shape has unknown rank");
  shape->clear();
  int64_t n = 1;
  for (const auto& dim : entry.shape().dim()) {
    if (dim.size() < 0) return data_loss(where + ": stored shape has a negative dimension");
    if (dim.size() > 0 && n > std::numeric_limits<int64_t>::max() / dim.size()) {
      return data_loss(where + ": stored shape is too large");
    }
    n *= dim.size();
    shape->push_back(dim.size());
  }
  *count = n;
  return Status::ok();
}

}  // namespace

std::string bundle_data_path(const std::string& prefix, int shard, int num_shards) {
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".data-%05d-of-%05d", shard, num_shards);
  return prefix + suffix;
}

Status BundleReader::open(const std::string& prefix) {
  prefix_ = prefix;
  entries_.clear();
  const std::string index_path = prefix + ".index";
  TableEntries table;
  QTF_RETURN_IF_ERROR(read_table(index_path, &table));
  if (table.empty() || !table.front().first.empty()) {
    return data_loss(index_path + ": no bundle header (empty key) in the index");
  }
  if (!header_.ParseFromString(table.front().second)) {
    return data_loss(index_path + ": corrupt bundle header");
  }
  if (header_.num_shards() <= 0) {
    return data_loss(index_path + ": bundle header gives " + std::to_string(header_.num_shards()) +
                     " shards");
  }
  if (header_.version().producer() < 0 || header_.version().min_consumer() > kBundleConsumerVersion) {
    return data_loss(index_path + ": bundle version " + std::to_string(header_.version().producer()) +
                     " needs a newer reader (min consumer " +
                     std::to_string(header_.version().min_consumer()) + ")");
  }
  for (int bad : header_.version().bad_consumers()) {
    if (bad == kBundleConsumerVersion) return data_loss(index_path + ": bundle excludes this reader");
  }
  for (size_t i = 1; i < table.size(); ++i) {
    tensorflow::BundleEntryProto entry;
    if (!entry.ParseFromString(table[i].second)) {
      return data_loss(index_path + ": corrupt entry for key '" + table[i].first + "'");
    }
    entries_.emplace(table[i].first, std::move(entry));
  }
  shards_.clear();
  return Status::ok();
}

std::vector<std::string> BundleReader::keys() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& kv : entries_) out.push_back(kv.first);
  return out;
}

Status BundleReader::shard(int id, const RandomAccessFile** file) {
  auto it = shards_.find(id);
  if (it == shards_.end()) {
    it = shards_.emplace(std::piecewise_construct, std::forward_as_tuple(id), std::forward_as_tuple()).first;
    const Status status = it->second.open(bundle_data_path(prefix_, id, header_.num_shards()));
    if (!status.is_ok()) {
      shards_.erase(it);
      return status;
    }
  }
  *file = &it->second;
  return Status::ok();
}

Status BundleReader::read(const std::string& key, Tensor* out) {
  const auto it = entries_.find(key);
  if (it == entries_.end()) {
    return not_found("Key " + key + " not found in checkpoint " + prefix_);
  }
  const tensorflow::BundleEntryProto& entry = it->second;
  const std::string where = prefix_ + ": tensor '" + key + "'";
  if (entry.slices_size() > 0) {
    return unimplemented(where + " is partitioned into slices, which are not supported");
  }
  const int stored_dtype = entry.dtype();
  if (!readable_numeric(stored_dtype) && stored_dtype != TF_STRING) {
    const bool known = stored_dtype >= 0 && stored_dtype <= TF_FLOAT8_E4M3FN;
    return unimplemented(where + " has unsupported type " +
                         (known ? std::string(dtype_name(static_cast<DataType>(stored_dtype)))
                                : std::to_string(stored_dtype)));
  }
  const auto dtype = static_cast<DataType>(stored_dtype);
  Shape shape;
  int64_t count = 0;
  QTF_RETURN_IF_ERROR(shape_from_entry(entry, where, &shape, &count));
  if (entry.shard_id() < 0 || entry.shard_id() >= header_.num_shards()) {
    return data_loss(where + " names shard " + std::to_string(entry.shard_id()) + " of " +
                     std::to_string(header_.num_shards()));
  }
  if (entry.offset() < 0 || entry.size() < 0) return data_loss(where + ": negative offset or size");
  const RandomAccessFile* file = nullptr;
  QTF_RETURN_IF_ERROR(shard(entry.shard_id(), &file));
  const auto offset = static_cast<uint64_t>(entry.offset());
  const auto size = static_cast<uint64_t>(entry.size());
  if (offset > file->size() || size > file->size() - offset) {
    return data_loss(where + ": bytes [" + std::to_string(offset) + ", " +
                     std::to_string(offset + size) + ") lie outside " + file->path() + " (" +
                     std::to_string(file->size()) + " bytes)");
  }

  if (dtype == TF_STRING) {
    std::string bytes(static_cast<size_t>(size), '\0');
    QTF_RETURN_IF_ERROR(file->read(offset, bytes.size(), bytes.data()));
    std::vector<std::string> values;
    uint32_t crc = 0;
    QTF_RETURN_IF_ERROR(decode_bundle_strings(bytes, count, where, &values, &crc));
    if (crc != crc32c_unmask(entry.crc32c())) return data_loss(where + ": checksum mismatch");
    *out = Tensor::strings(std::move(shape), std::move(values));
    return Status::ok();
  }

  const size_t element_size = dtype_size(dtype);
  if (static_cast<uint64_t>(count) > std::numeric_limits<uint64_t>::max() / element_size ||
      static_cast<uint64_t>(count) * element_size != size) {
    return data_loss(where + ": stored size " + std::to_string(size) + " does not match shape " +
                     shape_string(shape) + " of " + dtype_name(dtype));
  }
  Tensor tensor = Tensor::allocate(dtype, shape);
  char* data = static_cast<char*>(tensor.raw());
  QTF_RETURN_IF_ERROR(file->read(offset, static_cast<size_t>(size), data));
  if (crc32c(data, static_cast<size_t>(size)) != crc32c_unmask(entry.crc32c())) {
    return data_loss(where + ": checksum mismatch");
  }
  const bool stored_little = header_.endianness() == tensorflow::BundleHeaderProto::LITTLE;
  if (stored_little != host_is_little_endian() && element_size > 1) {
    swap_bytes(data, element_size, static_cast<size_t>(count));
  }
  *out = std::move(tensor);
  return Status::ok();
}

Status decode_bundle_strings(const std::string& bytes, int64_t count, const std::string& where,
                             std::vector<std::string>* values, uint32_t* crc) {
  std::string_view in(bytes);
  // Every string needs at least one length byte, so a larger count is corrupt
  // and must not drive the allocation below.
  if (count < 0 || static_cast<uint64_t>(count) > in.size()) {
    return data_loss(where + ": string tensor of " + std::to_string(count) +
                     " elements does not fit its " + std::to_string(bytes.size()) + " bytes");
  }
  std::vector<uint64_t> lengths(static_cast<size_t>(count));
  uint32_t running = 0;
  uint64_t total = 0;
  for (uint64_t& length : lengths) {
    if (!get_varint64(&in, &length)) return data_loss(where + ": truncated string lengths");
    // The checksum covers each length as a fixed-width integer, not the varint.
    std::string fixed;
    if (length <= 0xFFFFFFFFu) {
      put_fixed32(&fixed, static_cast<uint32_t>(length));
    } else {
      put_fixed64(&fixed, length);
    }
    running = crc32c_extend(running, fixed.data(), fixed.size());
    if (length > in.size() || total > in.size() - length) {
      return data_loss(where + ": string lengths exceed the stored bytes");
    }
    total += length;
  }
  uint32_t stored_lengths_crc = 0;
  const char* checksum_bytes = in.data();
  if (!get_fixed32(&in, &stored_lengths_crc)) return data_loss(where + ": missing lengths checksum");
  if (crc32c_unmask(stored_lengths_crc) != running) {
    return data_loss(where + ": string lengths checksum mismatch");
  }
  running = crc32c_extend(running, checksum_bytes, 4);
  if (in.size() != total) {
    return data_loss(where + ": string bytes (" + std::to_string(in.size()) +
                     ") do not match the stored lengths (" + std::to_string(total) + ")");
  }
  running = crc32c_extend(running, in.data(), in.size());
  values->clear();
  values->reserve(lengths.size());
  for (uint64_t length : lengths) {
    values->emplace_back(in.data(), static_cast<size_t>(length));
    in.remove_prefix(static_cast<size_t>(length));
  }
  *crc = running;
  return Status::ok();
}

}  // namespace qtf
