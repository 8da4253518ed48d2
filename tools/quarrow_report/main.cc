// quarrow-report <data_folder>: writes an HTML report of a quarrow run
// (caches/report.html, pictures in caches/report/).
#include <iostream>
#include <string>

#include "report.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: quarrow-report <data_folder>" << std::endl;
    return 1;
  }
  quarrow::report::ReportSummary summary;
  std::string error;
  if (!quarrow::report::write_report(argv[1], summary, error)) {
    std::cerr << "Error: " << error << std::endl;
    return 1;
  }
  std::cout << "Report written to " << summary.html_path << " (" << summary.processed << " of "
            << summary.records << " records processed)" << std::endl;
  return 0;
}
