// LevelDB-format table writer for checkpoint index files.
#include "table_builder.h"

#include "util/coding.h"
#include "util/crc32c.h"

namespace qsm {

using qtf::put_fixed32;
using qtf::put_varint64;

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

qtf::BlockHandle TableBuilder::write_block(const std::string& contents) {
  qtf::BlockHandle handle;
  handle.offset = file_.size();
  handle.size = contents.size();
  file_.append(contents);
  // Uncompressed, as TensorFlow's bundle writer asks for.
  const char type = static_cast<char>(qtf::BlockCompression::kNone);
  uint32_t crc = qtf::crc32c(contents.data(), contents.size());
  crc = qtf::crc32c_extend(crc, &type, 1);
  file_.push_back(type);
  put_fixed32(&file_, qtf::crc32c_mask(crc));
  return handle;
}

void TableBuilder::flush_data_block() {
  if (data_.empty()) return;
  pending_handle_.clear();
  write_block(data_.finish()).encode_to(&pending_handle_);
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
  qtf::Footer footer;
  footer.metaindex = write_block(Block(kRestartInterval).finish());
  if (!pending_handle_.empty()) {
    index_.add(short_successor(last_key_), pending_handle_);
    pending_handle_.clear();
  }
  footer.index = write_block(index_.finish());
  footer.encode_to(&file_);
  return file_;
}

}  // namespace qsm
