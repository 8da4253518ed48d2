#include "html_page.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace quarrow::report {

namespace {

const char* const kStyle = R"css(
  :root { --ink: #1f2328; --muted: #656d76; --line: #d0d7de; --card: #ffffff;
          --page: #f3f4f6; --out: #1a7f37; --in: #8250df; --skip: #9a6700; }
  * { box-sizing: border-box; }
  body { margin: 0; padding: 24px 32px; background: var(--page); color: var(--ink);
         font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; }
  h1 { font-size: 26px; margin: 0 0 4px; }
  h2 { font-size: 19px; margin: 28px 0 12px; }
  .meta { color: var(--muted); margin: 0 0 16px; }
  code { font: 13px ui-monospace, "DejaVu Sans Mono", monospace; }
  .summary { display: flex; gap: 12px; flex-wrap: wrap; margin: 0; padding: 0; }
  .summary li { list-style: none; background: var(--card); border: 1px solid var(--line);
                border-radius: 8px; padding: 8px 14px; }
  .summary b { font-size: 20px; margin-right: 6px; }
  .card { background: var(--card); border: 1px solid var(--line); border-radius: 10px;
          padding: 14px 18px 16px; margin: 0 0 16px; }
  .card header { display: flex; align-items: baseline; gap: 12px; flex-wrap: wrap;
                 margin-bottom: 10px; }
  .card h3 { font-size: 18px; margin: 0; }
  .id { color: var(--muted); }
  .badge { border-radius: 999px; padding: 1px 10px; color: #fff; font-weight: 600;
           font-size: 13px; }
  .badge.outdoor { background: var(--out); }
  .badge.indoor { background: var(--in); }
  .ratio { font-variant-numeric: tabular-nums; }
  .views { display: grid; grid-template-columns: repeat(3, minmax(0, 1fr)); gap: 12px; }
  figure { margin: 0; }
  figure img { display: block; width: 100%; height: auto; border-radius: 4px;
               border: 1px solid var(--line); image-rendering: auto; }
  figcaption { color: var(--muted); font-size: 13px; margin-top: 4px; }
  .scale { display: flex; align-items: center; gap: 8px; margin-top: 6px;
           font-size: 13px; font-variant-numeric: tabular-nums; }
  .scale img { flex: 1; height: 12px; min-width: 0; border-radius: 2px; border: 0; }
  .nodepth { display: inline-block; width: 12px; height: 12px; background: rgb(96,96,96);
             vertical-align: -2px; border-radius: 2px; }
  table { border-collapse: collapse; background: var(--card); width: 100%;
          border: 1px solid var(--line); }
  th, td { text-align: left; padding: 7px 12px; border-bottom: 1px solid var(--line); }
  th { background: #eaeef2; font-weight: 600; }
  td.reason { color: var(--skip); }
  .empty { color: var(--muted); font-style: italic; }
)css";

void write_processed_card(std::ostream& out, const PageInfo& info, const RecordEntry& e) {
  const ReportRecord& r = e.record;
  const std::string dir = info.image_folder + "/";
  const char* decision = r.is_outdoor ? "outdoor" : "indoor";
  const std::string uuid = html_escape(r.uuid);
  out << "<section class=\"card\">\n<header><h3>" << uuid << "</h3>"
      << "<span class=\"id\">id " << r.id << "</span>"
      << "<span class=\"badge " << decision << "\">" << decision << "</span>"
      << "<span class=\"ratio\">sky ratio <b>" << format_ratio(r.sky_ratio)
      << "</b></span></header>\n<div class=\"views\">\n";
  out << "<figure><img src=\"" << html_escape(dir + e.panorama_png) << "\" alt=\"panorama "
      << uuid << "\"><figcaption>Panorama</figcaption></figure>\n";
  out << "<figure><img src=\"" << html_escape(dir + e.sky_png) << "\" alt=\"sky mask "
      << uuid << "\"><figcaption>Refined sky mask (tinted)</figcaption></figure>\n";
  out << "<figure><img src=\"" << html_escape(dir + e.depth_png) << "\" alt=\"depth map "
      << uuid << "\">";
  if (e.depth.valid) {
    out << "<div class=\"scale\"><span class=\"min\">" << format_metres(e.depth.min)
        << "</span><img src=\"" << html_escape(dir + info.colour_bar_png)
        << "\" alt=\"colour scale\"><span class=\"max\">" << format_metres(e.depth.max)
        << "</span></div>";
  }
  const double share = 100.0 * static_cast<double>(e.depth.pixels) /
                       (static_cast<double>(kDepthWidth) * kDepthHeight);
  char coverage[64];
  std::snprintf(coverage, sizeof coverage, "%.1f %%", share);
  out << "<figcaption>Depth map";
  if (e.depth.valid) {
    out << ": " << coverage << " of pixels carry a depth, <span class=\"nodepth\"></span> = none";
  } else {
    out << ": no pixel carries a depth";
  }
  out << "</figcaption></figure>\n</div>\n</section>\n";
}

void write_passed_over(std::ostream& out, const std::vector<RecordEntry>& entries) {
  out << "<table>\n<thead><tr><th>#</th><th>uuid</th><th>id</th><th>Reason</th></tr></thead>\n"
      << "<tbody>\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    const RecordEntry& e = entries[i];
    if (e.outcome == Outcome::processed) continue;
    out << "<tr><td>" << i + 1 << "</td><td>" << html_escape(e.record.uuid) << "</td><td>"
        << e.record.id << "</td><td class=\"reason\">" << html_escape(e.reason)
        << "</td></tr>\n";
  }
  out << "</tbody>\n</table>\n";
}

}  // namespace

std::string html_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    switch (ch) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += ch;
    }
  }
  return out;
}

std::string format_ratio(float percent) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", static_cast<double>(percent));
  return text;
}

std::string format_metres(float metres) {
  char text[32];
  // Below 10 m a tenth of a metre still matters; above, whole metres do.
  const double m = metres;
  std::snprintf(text, sizeof text, std::fabs(m) < 10.0 ? "%.2f m" : "%.1f m", m);
  return text;
}

std::string render_page(const PageInfo& info, const std::vector<RecordEntry>& entries) {
  size_t processed = 0, outdoor = 0;
  for (const RecordEntry& e : entries) {
    if (e.outcome != Outcome::processed) continue;
    ++processed;
    if (e.record.is_outdoor) ++outdoor;
  }
  const size_t passed = entries.size() - processed;

  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<title>quarrow report: " << html_escape(info.data_folder) << "</title>\n"
      << "<style>" << kStyle << "</style>\n</head>\n<body>\n"
      << "<h1>quarrow report</h1>\n<p class=\"meta\">Data folder <code>"
      << html_escape(info.data_folder) << "</code>, records from <code>caches/"
      << html_escape(info.source_name) << "</code>"
      << (info.has_results ? "" : " (quarrow has not written outdoor_flag.json yet)")
      << ".</p>\n<ul class=\"summary\">\n"
      << "<li><b>" << entries.size() << "</b>records</li>\n"
      << "<li><b>" << processed << "</b>processed</li>\n"
      << "<li><b>" << outdoor << "</b>outdoor</li>\n"
      << "<li><b>" << processed - outdoor << "</b>indoor</li>\n"
      << "<li><b>" << passed << "</b>passed over</li>\n</ul>\n";

  out << "<h2>Processed images</h2>\n";
  if (processed == 0) out << "<p class=\"empty\">No record was processed.</p>\n";
  for (const RecordEntry& e : entries) {
    if (e.outcome == Outcome::processed) write_processed_card(out, info, e);
  }
  out << "<h2>Passed over</h2>\n";
  if (passed == 0) {
    out << "<p class=\"empty\">Every record was processed.</p>\n";
  } else {
    write_passed_over(out, entries);
  }
  out << "</body>\n</html>\n";
  return out.str();
}

}  // namespace quarrow::report
