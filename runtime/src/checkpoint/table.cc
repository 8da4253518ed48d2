#include "checkpoint/table.h"

#include <string_view>

#include "checkpoint/table_format.h"
#include "util/file.h"

namespace qtf {

Status parse_table(const std::string& file, const std::string& file_name, TableEntries* entries) {
  entries->clear();
  if (file.size() < kFooterLength) {
    return data_loss(file_name + ": file of " + std::to_string(file.size()) +
                     " bytes is too short to be a table");
  }
  Footer footer;
  QTF_RETURN_IF_ERROR(
      footer.decode_from(std::string_view(file).substr(file.size() - kFooterLength), file_name));

  std::string index_contents;
  QTF_RETURN_IF_ERROR(read_block(file, footer.index, file_name, &index_contents));
  TableEntries index;
  QTF_RETURN_IF_ERROR(decode_block(index_contents, file_name + ": index block", &index));

  std::string contents;
  for (const auto& [separator, encoded_handle] : index) {
    std::string_view in(encoded_handle);
    BlockHandle handle;
    if (!handle.decode_from(&in)) {
      return data_loss(file_name + ": bad block handle in the index block");
    }
    QTF_RETURN_IF_ERROR(read_block(file, handle, file_name, &contents));
    const size_t before = entries->size();
    QTF_RETURN_IF_ERROR(decode_block(
        contents, file_name + ": data block at offset " + std::to_string(handle.offset), entries));
    // Blocks must follow one another in key order.
    if (before > 0 && entries->size() > before && (*entries)[before].first <= (*entries)[before - 1].first) {
      return data_loss(file_name + ": data blocks out of key order");
    }
  }
  return Status::ok();
}

Status read_table(const std::string& path, TableEntries* entries) {
  std::string file;
  QTF_RETURN_IF_ERROR(read_file(path, &file));
  return parse_table(file, path, entries);
}

}  // namespace qtf
