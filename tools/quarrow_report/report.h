// Builds the whole report for a data folder: caches/report.html and its
// pictures in caches/report/.
#pragma once

#include <cstddef>
#include <string>

namespace quarrow::report {

struct ReportSummary {
  std::string html_path;  // the page that was written
  std::size_t records = 0;
  std::size_t processed = 0;
};

// Returns false with a one-line reason in `error` when the data folder has no
// caches folder, no record list, an unreadable record list, or when the
// report cannot be written.
bool write_report(const std::string& data_folder, ReportSummary& summary, std::string& error);

}  // namespace quarrow::report
