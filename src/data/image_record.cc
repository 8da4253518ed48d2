// Reading and writing of the image record list (see image_record.h).
//
// cereal's JSON archive must be the first header to pull in rapidjson: it
// configures rapidjson to throw cereal::RapidJSONException instead of
// aborting on a failed check, and to read and write NaN and Infinity.
#include <cereal/archives/json.hpp>
#include <cereal/types/vector.hpp>

#include "data/image_record.h"

#include "data/file_replacement.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace quarrow {
namespace {

void report_unwritable(const std::string& path) {
  std::cerr << "Error: file " << path << " can't be written" << std::endl;
}

// `text` as a JSON string literal: quotes, backslashes and control
// characters escaped, every other byte as it is.
std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + '"';
}

}  // namespace

void read_image_records(const std::string& path, std::vector<ImageRecord>& records) {
  // A stream that failed to open reads as an empty document, which the
  // archive rejects like any text that is not a JSON object.
  std::ifstream input(native_path(path));
  read_image_records(input, records);
}

void read_image_records(std::istream& input, std::vector<ImageRecord>& records) {
  cereal::JSONInputArchive archive(input);
  archive(cereal::make_nvp("images", records));
}

bool write_image_records(const std::string& path, std::vector<ImageRecord>& records) {
  // Through a temporary file, so that a failed write, also one ended by an
  // exception from the JSON layer, keeps the previous outdoor_flag.json.
  const bool written = replace_file(native_path(path), [&records](const std::string& name) {
    std::ofstream output(name);
    if (!output) return false;
    {
      cereal::JSONOutputArchive archive(output);
      archive(cereal::make_nvp("images", records));
    }  // the archive writes the closing brace and flushes as it goes
    output.close();
    return !output.fail();
  });
  if (!written) report_unwritable(path);
  return written;
}

std::string image_list_json_text(const std::vector<ImageRecord>& records) {
  std::ostringstream out;
  out << "{\"images\": [\n";
  for (size_t i = 0; i < records.size(); ++i) {
    const ImageRecord& record = records[i];
    out << "  {\"uuid\": " << json_string(record.uuid) << ", \"id\": " << record.id
        << ", \"is_main\": " << (record.is_main ? "true" : "false") << "}"
        << (i + 1 < records.size() ? "," : "") << "\n";
  }
  out << "]}\n";
  return out.str();
}

}  // namespace quarrow
