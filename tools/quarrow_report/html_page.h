// Renders the report page: one card per processed record, a table of the
// records that were passed over. Plain HTML and CSS, images linked relative
// to the page.
#pragma once

#include <string>
#include <vector>

#include "record_entry.h"

namespace quarrow::report {

struct PageInfo {
  std::string data_folder;    // as given on the command line
  std::string source_name;    // the JSON file the records came from
  bool has_results = false;   // false: only images.json was found
  std::string image_folder;   // PNG folder relative to the page, e.g. "report"
  std::string colour_bar_png; // shared colour scale, inside image_folder
};

// Escapes the characters that are special in HTML text and attributes.
std::string html_escape(const std::string& text);

// Formats a sky ratio as "62.50 %" and a depth as "12.3 m".
std::string format_ratio(float percent);
std::string format_metres(float metres);

std::string render_page(const PageInfo& info, const std::vector<RecordEntry>& entries);

}  // namespace quarrow::report
