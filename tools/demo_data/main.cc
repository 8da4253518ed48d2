// quarrow-demo-data <data_folder> [source_folder]: builds a demo data folder
// from the HDR panoramas that ship with Debian's blender-data package.
#include <iostream>
#include <string>

#include "demo_set.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: quarrow-demo-data <data_folder> [source_folder]\n"
              << "  source_folder defaults to " << quarrow::demo::kDefaultSourceFolder
              << "\n";
    return 1;
  }
  const std::string data_folder = argv[1];
  const std::string source = argc == 3 ? argv[2] : quarrow::demo::kDefaultSourceFolder;
  const auto& set = quarrow::demo::demo_panoramas();
  std::string error;
  if (!quarrow::demo::write_demo_data(source, data_folder, set, error)) {
    std::cerr << "Error: " << error << std::endl;
    return 1;
  }
  std::cout << "Wrote " << set.size() << " panoramas and images.json to " << data_folder
            << "/caches" << std::endl;
  return 0;
}
