// The demo data folder: which HDR panoramas it is made of, and how they are
// written into a quarrow data folder (caches/images/*.jpg, caches/images.json).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrow::demo {

// One panorama of the demo set. `uuid` is both the source file's stem
// (<uuid>.exr) and the record's identifier (<uuid>.jpg in the data folder).
struct DemoPanorama {
  std::string uuid;
  std::uint64_t id = 0;
  bool is_main = true;
};

// Where Debian's blender-data package keeps its CC0 studio-light panoramas.
inline constexpr const char* kDefaultSourceFolder =
    "/usr/share/blender/datafiles/studiolights/world";

// The eight panoramas, ids 1..8 in alphabetical order. "sunrise" is stored
// with is_main false: it is the near twin of "sunset" and shows that such a
// record is passed over.
const std::vector<DemoPanorama>& demo_panoramas();

// The images.json text for `set`: one compact record per line.
std::string images_json_text(const std::vector<DemoPanorama>& set);

// Reads <source_folder>/<uuid>.exr for every entry of `set`, tone-maps it and
// writes <data_folder>/caches/images/<uuid>.jpg, then
// <data_folder>/caches/images.json. Creates the folders as needed. Returns
// false with a one-line reason in `error` at the first failure.
bool write_demo_data(const std::string& source_folder, const std::string& data_folder,
                     const std::vector<DemoPanorama>& set, std::string& error);

}  // namespace quarrow::demo
