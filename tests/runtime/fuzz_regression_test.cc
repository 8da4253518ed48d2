// Replays the inputs the fuzzers found crashing (kept minimised under
// data/fuzz/) through the same entry points, and checks the input plumbing
// the fuzzers rely on: section splitting and table checksum repair.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../../fuzz/entry_points.h"
#include "checkpoint/table.h"
#include "checkpoint_test_util.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using qtf::testing::TempDir;

const std::string kFuzzData = std::string(QUARROW_TEST_DATA_DIR) + "/fuzz";

std::vector<fs::path> inputs_in(const std::string& folder) {
  std::vector<fs::path> files;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(kFuzzData + "/" + folder, ignored)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

using EntryPoint = qtf::Status (*)(const uint8_t*, size_t, const std::string&);

void expect_clean_errors(const std::string& folder, EntryPoint entry) {
  const std::vector<fs::path> files = inputs_in(folder);
  ASSERT_FALSE(files.empty()) << "no inputs in " << kFuzzData << "/" << folder;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const std::string bytes = qtf::testing::read_whole(file.string());
    TempDir dir;
    const qtf::Status s = entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), dir.path());
    EXPECT_FALSE(s.is_ok());
    EXPECT_NE(s.code(), TF_INTERNAL) << s.message();
    EXPECT_FALSE(s.message().empty());
  }
}

TEST(FuzzRegression, SavedModelInputsFailCleanly) {
  expect_clean_errors("saved_model", qfuzz::run_saved_model_input);
}

TEST(FuzzRegression, CheckpointInputsFailCleanly) {
  expect_clean_errors("checkpoint", qfuzz::run_checkpoint_input);
}

// What each kept input must report, so a replay that fails for some other
// reason (a missing file, a changed harness) does not pass by accident.
TEST(FuzzRegression, KeptInputsReportTheirOwnFault) {
  const struct {
    std::string folder, file;
    EntryPoint entry;
    TF_Code code;
    std::string fragment;
    bool names_variables = true;  // the message names the scratch folder's variables/
  } cases[] = {
      // A 327-byte index whose Snappy block claims ~2 GiB used to be allocated
      // and zero-filled before decompression failed.
      {"checkpoint", "snappy_block_claims_2gib", qfuzz::run_checkpoint_input, TF_DATA_LOSS, "Snappy"},
      // A bundle entry whose dtype (33) lies outside TF_DataType was converted
      // to the enum before being checked. Another entry of this input points
      // past the data shard, and that DATA_LOSS comes first.
      {"checkpoint", "entry_dtype_out_of_enum_range", qfuzz::run_checkpoint_input, TF_DATA_LOSS,
       "has unsupported type 33"},
      // A header claiming about 2^31 shards used to allocate a file slot per
      // claimed shard before any entry was read.
      {"checkpoint", "header_claims_billions_of_shards", qfuzz::run_checkpoint_input, TF_NOT_FOUND,
       "variables.data-00000-of-536870901: No such file"},
      {"saved_model", "snappy_block_claims_2gib_in_variables", qfuzz::run_saved_model_input,
       TF_DATA_LOSS, "Snappy"},
      // The restore function's RestoreV2 node had lost inputs, and the kernel
      // read past its input list: nodes are now checked against their op's
      // input count when the graph is prepared.
      {"saved_model", "restore_node_missing_inputs", qfuzz::run_saved_model_input,
       TF_INVALID_ARGUMENT, "'__inference__traced_restore_300': has 2 inputs, its op takes 3",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string bytes = qtf::testing::read_whole(kFuzzData + "/" + c.folder + "/" + c.file);
    ASSERT_FALSE(bytes.empty());
    TempDir dir;
    const qtf::Status s = c.entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), dir.path());
    EXPECT_EQ(s.code(), c.code) << s.message();
    EXPECT_NE(s.message().find(c.fragment), std::string::npos) << s.message();
    if (c.names_variables) {
      EXPECT_NE(s.message().find(dir.path() + "/variables"), std::string::npos) << s.message();
    }
  }
}

TEST(FuzzSections, SplitsOnTheMarkerAndJoinsBack) {
  const std::string marker(qfuzz::kSectionMarker);
  const struct {
    std::string input;
    std::vector<std::string> sections;
  } cases[] = {
      {"", {""}},
      {"abc", {"abc"}},
      {"a" + marker + "b", {"a", "b"}},
      {marker, {"", ""}},
      {"a" + marker + marker + "c", {"a", "", "c"}},
      {"#QTFSPLIT" + marker + "x", {"", "QTFSPLIT#x"}},  // leftmost marker wins
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const auto got = qfuzz::split_sections(reinterpret_cast<const uint8_t*>(c.input.data()), c.input.size());
    EXPECT_EQ(got, c.sections);
    EXPECT_EQ(qfuzz::join_sections(got), c.input);
  }
}

TEST(FuzzChecksumRepair, RestoresEveryBlockChecksumTheReaderChecks) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 40; ++i) entries.emplace_back("key" + std::to_string(100 + i), std::string(50, 'v'));
  qtf::testing::TableOptions options;
  options.block_size = 256;  // several data blocks
  const std::string table = qtf::testing::build_table(entries, options);

  // Flip the last CRC byte of every data block and of the index block.
  std::string broken = table;
  qtf::Footer footer;
  ASSERT_TRUE(footer.decode_from(std::string_view(table).substr(table.size() - qtf::kFooterLength), "t").is_ok());
  std::string index_contents;
  ASSERT_TRUE(qtf::read_block(table, footer.index, "t", &index_contents).is_ok());
  qtf::TableEntries index;
  ASSERT_TRUE(qtf::decode_block(index_contents, "t", &index).is_ok());
  ASSERT_GT(index.size(), 2u);
  std::vector<qtf::BlockHandle> handles{footer.index};
  for (const auto& entry : index) {
    std::string_view in(entry.second);
    handles.emplace_back();
    ASSERT_TRUE(handles.back().decode_from(&in));
  }
  for (const auto& h : handles) broken[h.offset + h.size + 4] ^= 0x5A;

  qtf::TableEntries read;
  EXPECT_EQ(qtf::parse_table(broken, "t", &read).code(), TF_DATA_LOSS);
  qfuzz::repair_table_checksums(&broken);
  EXPECT_EQ(broken, table);
  ASSERT_TRUE(qtf::parse_table(broken, "t", &read).is_ok());
  EXPECT_EQ(read, entries);
}

TEST(FuzzChecksumRepair, LeavesUnreadableTablesAlone) {
  const std::string table = qtf::testing::build_table({{"a", "1"}});
  for (const std::string& input : {std::string(), std::string("short"), std::string(table.size(), 'x'),
                                   table.substr(0, table.size() - 1)}) {
    std::string copy = input;
    qfuzz::repair_table_checksums(&copy);
    EXPECT_EQ(copy, input);
  }
}

}  // namespace
