// LevelDB-format table writer for checkpoint index files.
#include "table_builder.h"

#include "util/crc32c.h"

namespace qsm {

void put_varint64(std::string* out, uint64_t v) {
  while (v >= 0x80) {
    out->push_back(static_cast<char>((v & 0x7f) | 0x80));
    v >>= 7;
  }
  out->push_back(static_cast<char>(v));
}

void put_fixed32(std::string* out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out->push_back(static_cast<char>((v >> (8 * k)) & 0xff));
}

std::string shortest_separator(const std::string& start, const std::string& limit) {
  const size_t min_len = std::min(start.size(), limit.size());
  size_t diff = 0;
  while (diff < min_len && start[diff] == limit[diff]) ++diff;
  if (diff >= min_len) return start;  // one is a prefix of the other
  const auto byte = static_cast<unsigned char>(start[diff]);
  if (byte < 0xff && byte + 1 < static_cast<unsigned char>(limit[diff])) {
    std::string s = start.substr(0, diff + 1);
    s[diff] = static_cast<char>(byte + 1);
    return s;
  }
  return start;
}

std::string short_successor(const std::string& key) {
  for (size_t k = 0; k < key.size(); ++k) {
    const auto byte = static_cast<unsigned char>(key[k]);
    if (byte != 0xff) {
      std::string s = key.substr(0, k + 1);
      s[k] = static_cast<char>(byte + 1);
      return s;
    }
  }
  return key;
}

void TableBuilder::Block::add(const std::string& key, const std::string& value) {
  size_t shared = 0;
  if (count_ < restart_interval_) {
    const size_t min_len = std::min(last_key_.size(), key.size());
    while (shared < min_len && last_key_[shared] == key[shared]) ++shared;
  } else {
    restarts_.push_back(static_cast<uint32_t>(buffer_.size()));
    count_ = 0;
  }
  put_varint64(&buffer_, shared);
  put_varint64(&buffer_, key.size() - shared);
  put_varint64(&buffer_, value.size());
  buffer_.append(key, shared, std::string::npos);
  buffer_.append(value);
  last_key_ = key;
  ++count_;
}

std::string TableBuilder::Block::finish() {
  std::string out = std::move(buffer_);
  for (uint32_t r : restarts_) put_fixed32(&out, r);
  put_fixed32(&out, static_cast<uint32_t>(restarts_.size()));
  buffer_.clear();
  last_key_.clear();
  restarts_.assign(1, 0);
  count_ = 0;
  return out;
}

std::string TableBuilder::write_block(const std::string& contents) {
  std::string handle;
  put_varint64(&handle, file_.size());
  put_varint64(&handle, contents.size());
  file_.append(contents);
  const char type = 0;  // uncompressed, as TensorFlow's bundle writer asks for
  uint32_t crc = qtf::crc32c(contents.data(), contents.size());
  crc = qtf::crc32c_extend(crc, &type, 1);
  file_.push_back(type);
  put_fixed32(&file_, qtf::crc32c_mask(crc));
  return handle;
}

void TableBuilder::flush_data_block() {
  if (data_.empty()) return;
  pending_handle_ = write_block(data_.finish());
}

bool TableBuilder::add(const std::string& key, const std::string& value) {
  if (finished_ || (has_key_ && key <= last_key_)) return false;
  if (!pending_handle_.empty()) {
    index_.add(shortest_separator(last_key_, key), pending_handle_);
    pending_handle_.clear();
  }
  data_.add(key, value);
  last_key_ = key;
  has_key_ = true;
  if (data_.size_estimate() >= kBlockSize) flush_data_block();
  return true;
}

std::string TableBuilder::finish() {
  if (finished_) return file_;
  flush_data_block();
  finished_ = true;
  const std::string metaindex_handle = write_block(Block(kRestartInterval).finish());
  if (!pending_handle_.empty()) {
    index_.add(short_successor(last_key_), pending_handle_);
    pending_handle_.clear();
  }
  const std::string index_handle = write_block(index_.finish());
  std::string footer = metaindex_handle + index_handle;
  footer.resize(40, '\0');
  put_fixed32(&footer, static_cast<uint32_t>(kMagic & 0xffffffffu));
  put_fixed32(&footer, static_cast<uint32_t>(kMagic >> 32));
  file_.append(footer);
  return file_;
}

}  // namespace qsm
