#include "checkpoint/table_format.h"

#include <snappy.h>

#include "util/coding.h"
#include "util/crc32c.h"

namespace qtf {

void BlockHandle::encode_to(std::string* out) const {
  put_varint64(out, offset);
  put_varint64(out, size);
}

bool BlockHandle::decode_from(std::string_view* in) {
  std::string_view probe = *in;
  if (!get_varint64(&probe, &offset) || !get_varint64(&probe, &size)) return false;
  *in = probe;
  return true;
}

void Footer::encode_to(std::string* out) const {
  const size_t start = out->size();
  metaindex.encode_to(out);
  index.encode_to(out);
  out->resize(start + 2 * BlockHandle::kMaxEncodedLength, '\0');
  put_fixed64(out, kTableMagicNumber);
}

Status Footer::decode_from(std::string_view in, const std::string& file_name) {
  if (in.size() != kFooterLength) {
    return data_loss(file_name + ": too short to be a table (no footer)");
  }
  const uint64_t magic = decode_fixed64(in.data() + kFooterLength - 8);
  if (magic != kTableMagicNumber) {
    return data_loss(file_name + ": not a table (bad magic number)");
  }
  std::string_view handles = in.substr(0, 2 * BlockHandle::kMaxEncodedLength);
  if (!metaindex.decode_from(&handles) || !index.decode_from(&handles)) {
    return data_loss(file_name + ": bad block handle in the footer");
  }
  return Status::ok();
}

Status read_block(std::string_view file, const BlockHandle& handle, const std::string& file_name,
                  std::string* contents) {
  const std::string where = file_name + ": block at offset " + std::to_string(handle.offset);
  if (handle.offset > file.size() || handle.size > file.size() - handle.offset ||
      kBlockTrailerLength > file.size() - handle.offset - handle.size) {
    return data_loss(where + " of " + std::to_string(handle.size) +
                     " bytes runs past the end of the file");
  }
  const char* data = file.data() + handle.offset;
  const size_t n = static_cast<size_t>(handle.size);
  const uint32_t stored = crc32c_unmask(decode_fixed32(data + n + 1));
  const uint32_t actual = crc32c(data, n + 1);  // contents and type byte
  if (stored != actual) return data_loss(where + ": checksum mismatch");

  switch (static_cast<BlockCompression>(static_cast<uint8_t>(data[n]))) {
    case BlockCompression::kNone:
      contents->assign(data, n);
      return Status::ok();
    case BlockCompression::kSnappy: {
      size_t length = 0;
      if (!snappy::GetUncompressedLength(data, n, &length)) {
        return data_loss(where + ": corrupt Snappy header");
      }
      // The header's length is only a claim: validate the whole stream before
      // allocating, so a few corrupt bytes cannot make us zero-fill gigabytes.
      if (length > (size_t{1} << 31) || !snappy::IsValidCompressedBuffer(data, n)) {
        return data_loss(where + ": corrupt Snappy data");
      }
      contents->resize(length);
      if (!snappy::RawUncompress(data, n, contents->data())) {
        return data_loss(where + ": corrupt Snappy data");
      }
      return Status::ok();
    }
  }
  return data_loss(where + ": unknown compression type " +
                   std::to_string(static_cast<uint8_t>(data[n])));
}

}  // namespace qtf
