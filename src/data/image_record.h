// ImageRecord: one panorama's entry in images.json / outdoor_flag.json, and
// the reading and writing of the whole record list.
//
// One serialize routine serves both directions. On reading, "is_outdoor" and
// "sky_ratio" are optional so that records written before any analysis ran
// still load: when the full pass fails, a short pass reads only the required
// members "uuid", "id" and "is_main".
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include <cereal/cereal.hpp>
#include <cereal/types/string.hpp>

#include "data/path_utils.h"

namespace quarrow {

struct ImageRecord {
  std::string uuid;
  std::string file_name;  // uuid + ".jpg"; never stored in JSON
  bool is_outdoor = false;
  bool is_main = true;
  std::uint64_t id = 0;
  float sky_ratio = 0.0f;

  template <class Archive>
  void serialize(Archive& archive) {
    try {
      archive(cereal::make_nvp("uuid", uuid), cereal::make_nvp("id", id),
              cereal::make_nvp("is_outdoor", is_outdoor),
              cereal::make_nvp("sky_ratio", sky_ratio),
              cereal::make_nvp("is_main", is_main));
    } catch (const cereal::Exception&) {
      // A record from before the analysis: only the required members. A
      // failure here leaves the routine and ends the read.
      archive(cereal::make_nvp("uuid", uuid), cereal::make_nvp("id", id),
              cereal::make_nvp("is_main", is_main));
    }
    file_name = with_extension(uuid, ".jpg");
  }
};

// Reads the member "images" of the JSON document at `path` into `records`
// (expected empty). Every failure, also a file that cannot be read or parsed,
// is raised as cereal::Exception (cereal::RapidJSONException for the JSON
// layer's own checks); `records` is then incomplete.
void read_image_records(const std::string& path, std::vector<ImageRecord>& records);

// The same for a JSON document read from `input`, for readers that hold the
// text already (the tools and their tests).
void read_image_records(std::istream& input, std::vector<ImageRecord>& records);

// Writes `records` as the member "images" of a pretty-printed JSON document
// at `path` with the archive's default options, and sets every record's
// file_name again. The file is replaced as a whole (replace_file), so a write
// that fails or is interrupted keeps the previous file. When the file cannot
// be written, prints "Error: file <path> can't be written" on std::cerr and
// returns false. Errors of the JSON layer are raised as cereal::Exception,
// after the temporary file has been removed.
bool write_image_records(const std::string& path, std::vector<ImageRecord>& records);

// The record list as a data folder's images.json before any run, the way the
// tools that make data folders write it: only "uuid", "id" and "is_main", one
// compact record per line. read_image_records reads it back.
std::string image_list_json_text(const std::vector<ImageRecord>& records);

}  // namespace quarrow
