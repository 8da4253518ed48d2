// The report reads the record list itself rather than through quarrow_data's
// cereal reader: it names the record and member at fault, which cereal's
// exceptions do not. Its plain rapidjson must not be linked into a program
// that also links quarrow_data, whose rapidjson cereal configures to throw.
#include "record_list.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

namespace quarrow::report {
namespace fs = std::filesystem;

namespace {

std::string record_label(size_t index) { return "record " + std::to_string(index + 1); }

// Reads one record object; every member's type is checked before it is
// accessed, as rapidjson's accessors assume the caller already did.
bool read_record(const rapidjson::Value& value, size_t index, ReportRecord& record,
                 std::string& error) {
  if (!value.IsObject()) {
    error = record_label(index) + " is not a JSON object";
    return false;
  }
  const auto uuid = value.FindMember("uuid");
  if (uuid == value.MemberEnd() || !uuid->value.IsString()) {
    error = record_label(index) + ": \"uuid\" is missing or not a string";
    return false;
  }
  record.uuid.assign(uuid->value.GetString(), uuid->value.GetStringLength());

  const auto id = value.FindMember("id");
  if (id == value.MemberEnd() || !id->value.IsUint64()) {
    error = record_label(index) + " (" + record.uuid +
            "): \"id\" is missing or not a non-negative integer";
    return false;
  }
  record.id = id->value.GetUint64();

  const auto is_main = value.FindMember("is_main");
  if (is_main == value.MemberEnd() || !is_main->value.IsBool()) {
    error = record_label(index) + " (" + record.uuid +
            "): \"is_main\" is missing or not true/false";
    return false;
  }
  record.is_main = is_main->value.GetBool();

  // quarrow reads "sky_ratio" only after a boolean "is_outdoor".
  const auto is_outdoor = value.FindMember("is_outdoor");
  if (is_outdoor != value.MemberEnd() && is_outdoor->value.IsBool()) {
    record.is_outdoor = is_outdoor->value.GetBool();
    const auto ratio = value.FindMember("sky_ratio");
    if (ratio != value.MemberEnd() && ratio->value.IsNumber()) {
      record.sky_ratio = static_cast<float>(ratio->value.GetDouble());
    }
  }
  return true;
}

}  // namespace

bool parse_record_json(const std::string& text, std::vector<ReportRecord>& records,
                       std::string& error) {
  rapidjson::Document doc;
  // quarrow writes a non-finite sky ratio as NaN or Infinity.
  doc.Parse<rapidjson::kParseNanAndInfFlag>(text.c_str(), text.size());
  if (doc.HasParseError()) {
    error = std::string("not valid JSON (") + rapidjson::GetParseError_En(doc.GetParseError()) +
            " at offset " + std::to_string(doc.GetErrorOffset()) + ")";
    return false;
  }
  if (!doc.IsObject()) {
    error = "the document is not a JSON object";
    return false;
  }
  const auto images = doc.FindMember("images");
  if (images == doc.MemberEnd() || !images->value.IsArray()) {
    error = "no \"images\" array";
    return false;
  }
  records.clear();
  records.reserve(images->value.Size());
  for (rapidjson::SizeType i = 0; i < images->value.Size(); ++i) {
    ReportRecord record;
    if (!read_record(images->value[i], i, record, error)) return false;
    records.push_back(std::move(record));
  }
  return true;
}

bool load_record_list(const std::string& caches_folder, RecordList& list, std::string& error) {
  const fs::path flags = fs::path(caches_folder) / "outdoor_flag.json";
  const fs::path inputs = fs::path(caches_folder) / "images.json";
  std::error_code ec;
  fs::path chosen;
  if (fs::is_regular_file(flags, ec)) {
    chosen = flags;
    list.has_results = true;
  } else if (fs::is_regular_file(inputs, ec)) {
    chosen = inputs;
    list.has_results = false;
  } else {
    error = "neither outdoor_flag.json nor images.json found in " + caches_folder;
    return false;
  }
  list.source_name = chosen.filename().string();

  std::ifstream in(chosen, std::ios::binary);
  if (!in.is_open()) {
    error = "cannot read " + chosen.string();
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string reason;
  if (!parse_record_json(text.str(), list.records, reason)) {
    error = chosen.string() + ": " + reason;
    return false;
  }
  return true;
}

}  // namespace quarrow::report
