#include "report.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "html_page.h"
#include "record_entry.h"
#include "record_list.h"
#include "report_images.h"

namespace quarrow::report {
namespace fs = std::filesystem;

namespace {

constexpr const char* kReportFolderName = "report";
constexpr const char* kColourBarName = "colour-scale.png";

}  // namespace

bool write_report(const std::string& data_folder, ReportSummary& summary, std::string& error) {
  const fs::path caches = fs::path(data_folder) / "caches";
  std::error_code ec;
  if (!fs::is_directory(caches, ec)) {
    error = "folder " + caches.string() + " doesn't exist";
    return false;
  }
  RecordList list;
  if (!load_record_list(caches.string(), list, error)) return false;

  const fs::path report_folder = caches / kReportFolderName;
  fs::create_directories(report_folder, ec);
  if (ec) {
    error = "cannot create folder " + report_folder.string() + ": " + ec.message();
    return false;
  }
  const DataPaths paths{caches.string(), report_folder.string()};

  std::vector<RecordEntry> entries(list.records.size());
  summary = ReportSummary{};
  for (std::size_t i = 0; i < list.records.size(); ++i) {
    if (!evaluate_record(paths, list.has_results, i, list.records[i], entries[i], error)) {
      return false;
    }
    if (entries[i].outcome == Outcome::processed) ++summary.processed;
  }
  summary.records = entries.size();

  cv::Mat bar;
  make_colour_bar(bar);
  const fs::path bar_path = report_folder / kColourBarName;
  if (!cv::imwrite(bar_path.string(), bar)) {
    error = "cannot write " + bar_path.string();
    return false;
  }

  PageInfo info;
  info.data_folder = data_folder;
  info.source_name = list.source_name;
  info.has_results = list.has_results;
  info.image_folder = kReportFolderName;
  info.colour_bar_png = kColourBarName;

  const fs::path html = caches / "report.html";
  std::ofstream out(html, std::ios::binary | std::ios::trunc);
  out << render_page(info, entries);
  out.close();
  if (!out) {
    error = "cannot write " + html.string();
    return false;
  }
  summary.html_path = fs::absolute(html, ec).lexically_normal().string();
  if (ec) summary.html_path = html.string();
  return true;
}

}  // namespace quarrow::report
