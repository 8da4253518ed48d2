// What the report says about one record: whether quarrow processed it, and if
// so the pictures made from its panorama, sky mask and depth map; if not, why
// it was passed over.
#pragma once

#include <string>

#include "depth_file.h"
#include "record_list.h"

namespace quarrow::report {

enum class Outcome {
  processed,        // decision, ratio and both output files are there
  not_main,         // "is_main" is false
  image_missing,    // caches/images/<uuid>.jpg absent or undecodable
  outputs_missing,  // sky mask or depth file absent or malformed
  not_run_yet,      // only images.json exists: quarrow has not written results
};

struct RecordEntry {
  ReportRecord record;
  Outcome outcome = Outcome::not_run_yet;
  std::string reason;  // why the record was passed over; empty when processed
  // PNG file names inside the report folder (set when processed).
  std::string panorama_png;
  std::string sky_png;
  std::string depth_png;
  DepthRange depth;
};

// Where a record's files are, following the data layout.
struct DataPaths {
  std::string caches_folder;  // <data_folder>/caches
  std::string report_folder;  // <caches>/report, where the PNGs go
};

// File name prefix for a record's PNGs: its position (1-based) and its uuid
// reduced to characters that are safe in a file name and a relative link.
std::string png_prefix(std::size_t index, const std::string& uuid);

// Decides the outcome of record number `index` and, for a processed record,
// writes its three PNGs into `paths.report_folder`. Returns false with a
// reason in `error` only when a PNG cannot be written; everything wrong with
// the record's own files becomes the entry's `reason`.
bool evaluate_record(const DataPaths& paths, bool has_results, std::size_t index,
                     const ReportRecord& record, RecordEntry& entry, std::string& error);

}  // namespace quarrow::report
