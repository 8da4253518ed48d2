// Reads the record list that the report describes: outdoor_flag.json after a
// quarrow run, or images.json when the run has not written its results yet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrow::report {

// One image record as the report needs it. Members follow the JSON files:
// "uuid", "id" and "is_main" are required; "is_outdoor" and "sky_ratio" are
// optional and default to false and 0, as when quarrow reads them.
struct ReportRecord {
  std::string uuid;
  std::uint64_t id = 0;
  bool is_main = true;
  bool is_outdoor = false;
  float sky_ratio = 0.0f;
};

struct RecordList {
  // File name the records came from ("outdoor_flag.json" or "images.json").
  std::string source_name;
  // True when the list is quarrow's output, so decisions and ratios mean
  // something; false for the unprocessed input list.
  bool has_results = false;
  std::vector<ReportRecord> records;
};

// Parses one JSON document of the data layout ({"images": [ {...}, ... ]}).
// Returns false with a reason naming the offending record in `error`.
bool parse_record_json(const std::string& text, std::vector<ReportRecord>& records,
                       std::string& error);

// Loads <caches_folder>/outdoor_flag.json, or images.json when the former is
// absent. Returns false with a one-line reason in `error` when neither file
// exists or the chosen one cannot be read or parsed.
bool load_record_list(const std::string& caches_folder, RecordList& list, std::string& error);

}  // namespace quarrow::report
