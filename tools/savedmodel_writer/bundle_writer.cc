// Tensor bundle (V2 checkpoint) writer.
#include "bundle_writer.h"

#include <fstream>

#include "table_builder.h"
#include "tensor_bundle.pb.h"
#include "util/coding.h"
#include "util/crc32c.h"

namespace qsm {

std::string bundle_tensor_bytes(const TensorValue& value, uint32_t* crc) {
  if (value.dtype != TF_STRING) {
    *crc = qtf::crc32c(value.bytes.data(), value.bytes.size());
    return value.bytes;
  }
  // Strings: varint64 lengths, a masked CRC of the lengths, then the bytes.
  // The CRCs see each length as a 4-byte integer (8 bytes above 2^32-1).
  std::string out;
  uint32_t c = 0;
  for (const std::string& s : value.strings) {
    qtf::put_varint64(&out, s.size());
    const uint64_t len = s.size();
    std::string le;
    if (len <= 0xffffffffu) {
      qtf::put_fixed32(&le, static_cast<uint32_t>(len));
    } else {
      qtf::put_fixed64(&le, len);
    }
    c = qtf::crc32c_extend(c, le.data(), le.size());
  }
  std::string checksum;
  qtf::put_fixed32(&checksum, qtf::crc32c_mask(c));
  out.append(checksum);
  c = qtf::crc32c_extend(c, checksum.data(), checksum.size());
  for (const std::string& s : value.strings) {
    out.append(s);
    c = qtf::crc32c_extend(c, s.data(), s.size());
  }
  *crc = c;
  return out;
}

qtf::Status BundleWriter::add(const std::string& key, const TensorValue& value) {
  if (key.empty()) return qtf::invalid_argument("checkpoint key must not be empty");
  qtf::Status s = value.validate();
  if (!s.is_ok()) return qtf::invalid_argument("checkpoint tensor '" + key + "': " + s.message());
  if (!tensors_.emplace(key, value).second) {
    return qtf::invalid_argument("checkpoint key '" + key + "' added twice");
  }
  return qtf::Status::ok();
}

qtf::Status BundleWriter::finish(std::string* index_file, std::string* data_file) const {
  data_file->clear();
  TableBuilder table;
  tensorflow::BundleHeaderProto header;
  header.set_num_shards(1);
  header.set_endianness(tensorflow::BundleHeaderProto::LITTLE);
  header.mutable_version()->set_producer(1);
  table.add("", header.SerializeAsString());
  for (const auto& [key, value] : tensors_) {
    uint32_t crc = 0;
    const std::string bytes = bundle_tensor_bytes(value, &crc);
    tensorflow::BundleEntryProto entry;
    entry.set_dtype(static_cast<tensorflow::DataType>(value.dtype));
    for (int64_t d : value.shape) entry.mutable_shape()->add_dim()->set_size(d);
    entry.set_shard_id(0);
    entry.set_offset(static_cast<int64_t>(data_file->size()));
    entry.set_size(static_cast<int64_t>(bytes.size()));
    entry.set_crc32c(qtf::crc32c_mask(crc));
    data_file->append(bytes);
    table.add(key, entry.SerializeAsString());
  }
  *index_file = table.finish();
  return qtf::Status::ok();
}

qtf::Status BundleWriter::write(const std::string& prefix) const {
  std::string index_file, data_file;
  QTF_RETURN_IF_ERROR(finish(&index_file, &data_file));
  const std::pair<std::string, const std::string*> files[] = {
      {prefix + ".data-00000-of-00001", &data_file}, {prefix + ".index", &index_file}};
  for (const auto& [path, contents] : files) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents->data(), static_cast<std::streamsize>(contents->size()));
    out.close();
    if (!out) return qtf::Status(TF_PERMISSION_DENIED, "cannot write " + path);
  }
  return qtf::Status::ok();
}

}  // namespace qsm
