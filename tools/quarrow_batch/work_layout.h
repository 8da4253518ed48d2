// Where everything of a sharded run lies: the data folder's files as quarrow
// sees them, and the work folder with its manifest, shard data folders,
// logs and scheduler scripts. Every path here is a native (slash) path.
#pragma once

#include <cstddef>
#include <string>

namespace quarrow::batch {

// The caches folder of a data folder, with the names quarrow uses.
struct DataPaths {
  std::string caches;              // <data>/caches
  std::string images;              // <data>/caches/images
  std::string images_json;         // <data>/caches/images.json
  std::string segm;                // <data>/caches/segm
  std::string depthmap;            // <data>/caches/depthmap
  std::string outdoor_flag_json;   // <data>/caches/outdoor_flag.json
};

// Forms the paths the way quarrow forms them (absolute, normalised).
DataPaths data_paths(const std::string& data_folder);

class WorkLayout {
 public:
  explicit WorkLayout(const std::string& work_folder);

  const std::string& folder() const { return folder_; }
  std::string manifest() const;
  std::string logs() const;
  // "shard-0007": four digits at least, so names sort in shard order.
  static std::string shard_name(std::size_t index);
  std::string shard_data_folder(std::size_t index) const;
  std::string shard_out_log(std::size_t index) const;
  std::string shard_err_log(std::size_t index) const;
  std::string shard_exit_file(std::size_t index) const;
  std::string array_script() const;
  std::string merge_script() const;

 private:
  std::string folder_;
};

}  // namespace quarrow::batch
