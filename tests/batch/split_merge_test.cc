// split and merge without running quarrow: the shards' results are written
// here, as a shard run would leave them, so every refusal and every detail
// of the merged folder can be set up exactly.
#include <cereal/archives/json.hpp>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/image_record.h"
#include "manifest.h"
#include "merge.h"
#include "process_runner.h"
#include "split.h"
#include "work_layout.h"

namespace quarrow::batch {
namespace {

namespace fs = std::filesystem;
using quarrow::testing::read_file;
using quarrow::testing::TempDir;
using quarrow::testing::write_file;

// Members are public: the table of spoilt shards below reaches into them.
class SplitMergeTest : public ::testing::Test {
 public:
  void SetUp() override {
    data_ = tmp_.path() + "/data";
    work_ = tmp_.path() + "/work";
    fs::create_directories(data_ + "/caches/images/sub");
  }

  void set_records(const std::string& json) { write_file(data_ + "/caches/images.json", json); }
  void add_image(const std::string& uuid) {
    write_file(data_ + "/caches/images/" + uuid + ".jpg", "image " + uuid);
  }

  std::vector<ImageRecord> read_records(const std::string& path) {
    std::vector<ImageRecord> records;
    read_image_records(path, records);
    return records;
  }
  std::vector<std::string> uuids(const std::vector<ImageRecord>& records) {
    std::vector<std::string> result;
    for (const ImageRecord& record : records) result.push_back(record.uuid);
    return result;
  }

  Manifest split(std::size_t shards) {
    Manifest manifest;
    std::string error;
    EXPECT_TRUE(split_data_folder(data_, work_, shards, manifest, error)) << error;
    return manifest;
  }

  // What a finished shard run leaves: outdoor_flag.json with sky ratios of
  // 10 * (place + 1) + shard, a mask and a depth file per record, the exit file.
  void finish_shard(std::size_t shard, const std::string& exit = "0") {
    const WorkLayout layout(work_);
    const DataPaths paths = data_paths(layout.shard_data_folder(shard));
    std::vector<ImageRecord> records = read_records(paths.images_json);
    fs::create_directories(paths.segm);
    fs::create_directories(paths.depthmap);
    for (std::size_t k = 0; k < records.size(); ++k) {
      records[k].sky_ratio = static_cast<float>(10 * (k + 1) + shard);
      records[k].is_outdoor = k % 2 == 0;
      const std::string stem = fs::path(records[k].uuid).filename().string();
      write_file(paths.segm + "/" + stem + "_sky_segm.png", "mask of " + records[k].uuid);
      write_file(paths.depthmap + "/" + stem + ".bin", "depth of " + records[k].uuid);
    }
    ASSERT_TRUE(write_image_records(paths.outdoor_flag_json, records));
    write_file(layout.shard_exit_file(shard), exit + "\n");
  }

  MergeResult merge() { return merge_shards(data_, work_); }
  std::string merged() { return read_file(data_ + "/caches/outdoor_flag.json"); }

  TempDir tmp_;
  std::string data_;
  std::string work_;
};

const char kFiveRecords[] = R"({"images": [
  {"uuid": "a", "id": 1, "is_main": true},
  {"uuid": "b", "id": 2, "is_main": false, "is_outdoor": true, "sky_ratio": 40.5},
  {"uuid": "c", "id": 3, "is_main": true, "is_outdoor": true, "sky_ratio": 7.0},
  {"uuid": "gone", "id": 4, "is_main": true},
  {"uuid": "d", "id": 5, "is_main": true}]})";

TEST_F(SplitMergeTest, SplitGivesEachShardItsMainRecordsWithLinks) {
  set_records(kFiveRecords);
  for (const char* uuid : {"a", "b", "c", "d"}) add_image(uuid);
  const Manifest manifest = split(2);
  ASSERT_EQ(manifest.shards.size(), 2u);
  EXPECT_EQ(manifest.shards[0].records, (std::vector<std::uint64_t>{0, 4}));
  EXPECT_EQ(manifest.shards[1].records, (std::vector<std::uint64_t>{2}));
  EXPECT_EQ(manifest.record_count, 5u);
  EXPECT_EQ(manifest.images_json_checksum, file_checksum(data_ + "/caches/images.json"));
  EXPECT_EQ(fs::path(manifest.source_folder), fs::absolute(data_));

  const WorkLayout layout(work_);
  const DataPaths shard0 = data_paths(layout.shard_data_folder(0));
  EXPECT_EQ(uuids(read_records(shard0.images_json)), (std::vector<std::string>{"a", "d"}));
  // The record keeps what images.json said; the shard's copy reads back the same.
  const std::vector<ImageRecord> shard1 =
      read_records(data_paths(layout.shard_data_folder(1)).images_json);
  ASSERT_EQ(shard1.size(), 1u);
  EXPECT_TRUE(shard1[0].is_outdoor);
  EXPECT_EQ(shard1[0].sky_ratio, 7.0f);
  EXPECT_EQ(shard1[0].id, 3u);

  ASSERT_TRUE(fs::is_symlink(shard0.images + "/a.jpg"));
  EXPECT_EQ(fs::read_symlink(shard0.images + "/a.jpg"), fs::absolute(data_ + "/caches/images/a.jpg"));
  EXPECT_EQ(read_file(shard0.images + "/d.jpg"), "image d");
  EXPECT_FALSE(fs::exists(shard0.images + "/b.jpg"));  // not main
  EXPECT_FALSE(fs::exists(data_ + "/caches/segm"));     // the source is left alone

  std::string error;
  Manifest stored;
  ASSERT_TRUE(read_manifest(layout.manifest(), stored, error)) << error;
  EXPECT_EQ(stored.shards[1].records, manifest.shards[1].records);
  EXPECT_EQ(stored.shards[0].images_json_checksum, file_checksum(shard0.images_json));
}

TEST_F(SplitMergeTest, RecordsWritingTheSameFilesShareAShard) {
  set_records(R"({"images": [
    {"uuid": "x", "id": 1, "is_main": true}, {"uuid": "sub/x", "id": 2, "is_main": true},
    {"uuid": "y", "id": 3, "is_main": true}, {"uuid": "x", "id": 4, "is_main": true},
    {"uuid": "z", "id": 5, "is_main": true}]})");
  for (const char* uuid : {"x", "sub/x", "y", "z"}) add_image(uuid);
  const Manifest manifest = split(3);
  ASSERT_EQ(manifest.shards.size(), 3u);
  EXPECT_EQ(manifest.shards[0].records, (std::vector<std::uint64_t>{0, 1, 3}));
  EXPECT_EQ(manifest.shards[1].records, (std::vector<std::uint64_t>{2}));
  EXPECT_EQ(manifest.shards[2].records, (std::vector<std::uint64_t>{4}));
  const DataPaths shard0 = data_paths(WorkLayout(work_).shard_data_folder(0));
  EXPECT_EQ(read_file(shard0.images + "/sub/x.jpg"), "image sub/x");
}

TEST_F(SplitMergeTest, SplitRefusals) {
  std::string error;
  Manifest manifest;
  // No images folder.
  fs::remove_all(data_ + "/caches/images");
  EXPECT_FALSE(split_data_folder(data_, work_, 2, manifest, error));
  EXPECT_NE(error.find("doesn't exist"), std::string::npos) << error;
  fs::create_directories(data_ + "/caches/images");

  // An unreadable images.json: the JSON layer's message.
  set_records("{\"images\": [{\"uuid\": \"a\"}]}");
  error.clear();
  EXPECT_FALSE(split_data_folder(data_, work_, 2, manifest, error));
  EXPECT_NE(error.find("provided NVP (id) not found"), std::string::npos) << error;

  // A uuid that climbs out of the images folder.
  set_records(R"({"images": [{"uuid": "../escape", "id": 1, "is_main": true}]})");
  write_file(data_ + "/caches/escape.jpg", "x");
  error.clear();
  EXPECT_FALSE(split_data_folder(data_, work_, 2, manifest, error));
  EXPECT_NE(error.find("outside the images folder"), std::string::npos) << error;

  // A work folder that holds something else is never cleared.
  set_records(kFiveRecords);
  fs::create_directories(work_);
  write_file(work_ + "/precious.txt", "keep");
  error.clear();
  EXPECT_FALSE(split_data_folder(data_, work_, 2, manifest, error));
  EXPECT_NE(error.find("not empty"), std::string::npos) << error;
  EXPECT_EQ(read_file(work_ + "/precious.txt"), "keep");

  error.clear();
  EXPECT_FALSE(split_data_folder(data_, tmp_.path() + "/w2", 0, manifest, error));
}

TEST_F(SplitMergeTest, SplittingAgainReplacesAnEarlierSplit) {
  set_records(kFiveRecords);
  for (const char* uuid : {"a", "c", "d"}) add_image(uuid);
  split(3);
  finish_shard(2);
  const Manifest manifest = split(2);
  EXPECT_EQ(manifest.shards.size(), 2u);
  EXPECT_FALSE(fs::exists(WorkLayout(work_).shard_data_folder(2)));
  EXPECT_FALSE(fs::exists(WorkLayout(work_).shard_exit_file(2)));
  EXPECT_TRUE(fs::exists(data_ + "/caches/images/a.jpg"));  // links removed, not their targets
}

TEST_F(SplitMergeTest, NothingToProcessGivesOneShardWithEveryRecord) {
  set_records(kFiveRecords);  // no image files at all
  const Manifest manifest = split(4);
  ASSERT_EQ(manifest.shards.size(), 1u);
  EXPECT_EQ(manifest.shards[0].records, (std::vector<std::uint64_t>{0, 1, 2, 3, 4}));
}

TEST_F(SplitMergeTest, MergeWritesEveryRecordInOrderWithTheShardsResults) {
  set_records(kFiveRecords);
  for (const char* uuid : {"a", "b", "c", "d"}) add_image(uuid);
  split(2);
  finish_shard(0);
  finish_shard(1);
  const MergeResult result = merge();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.merged);

  // What one run's writer would give for these values.
  std::vector<ImageRecord> expected = read_records(data_ + "/caches/images.json");
  expected[0].sky_ratio = 10.0f;  // shard 0, place 0
  expected[0].is_outdoor = true;
  expected[4].sky_ratio = 20.0f;  // shard 0, place 1
  expected[4].is_outdoor = false;
  expected[2].sky_ratio = 11.0f;  // shard 1, place 0
  expected[2].is_outdoor = true;
  ASSERT_TRUE(write_image_records(tmp_.path() + "/expected.json", expected));
  EXPECT_EQ(merged(), read_file(tmp_.path() + "/expected.json"));

  EXPECT_EQ(read_file(data_ + "/caches/segm/a_sky_segm.png"), "mask of a");
  EXPECT_EQ(read_file(data_ + "/caches/depthmap/c.bin"), "depth of c");
  EXPECT_FALSE(fs::exists(data_ + "/caches/segm/b_sky_segm.png"));
  // Nothing but the results is left in the caches folder.
  for (const auto& entry : fs::directory_iterator(data_ + "/caches")) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }

  // The files moved, so the data folder shares none with the shard.
  const WorkLayout layout(work_);
  EXPECT_FALSE(fs::exists(data_paths(layout.shard_data_folder(0)).segm + "/a_sky_segm.png"));

  // Again: the same folder.
  const std::string first = merged();
  EXPECT_EQ(merge().exit_code, 0);
  EXPECT_EQ(merged(), first);
  EXPECT_EQ(read_file(data_ + "/caches/segm/a_sky_segm.png"), "mask of a");
  EXPECT_EQ(read_file(data_ + "/caches/depthmap/d.bin"), "depth of d");

  // A shard run again brings new files, and the next merge takes them.
  finish_shard(0);
  write_file(data_paths(layout.shard_data_folder(0)).segm + "/a_sky_segm.png", "rerun mask");
  EXPECT_EQ(merge().exit_code, 0);
  EXPECT_EQ(read_file(data_ + "/caches/segm/a_sky_segm.png"), "rerun mask");
  EXPECT_EQ(merged(), first);
}

TEST_F(SplitMergeTest, ShardWithFailedImagesIsMergedAndTheMergeEndsWithOne) {
  set_records(kFiveRecords);
  for (const char* uuid : {"a", "c", "d"}) add_image(uuid);
  split(2);
  finish_shard(0);
  finish_shard(1, "1");  // quarrow wrote the list but some image failed
  const MergeResult result = merge();
  EXPECT_TRUE(result.merged);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(merged().find("\"sky_ratio\": 11.0"), std::string::npos);
}

// A merge that cannot write outdoor_flag.json fails with 1 and keeps the
// list of an earlier merge whole.
TEST_F(SplitMergeTest, MergeThatCannotWriteTheListFailsAndKeepsTheEarlierOne) {
  set_records(kFiveRecords);
  for (const char* uuid : {"a", "c", "d"}) add_image(uuid);
  split(2);
  finish_shard(0);
  finish_shard(1);
  ASSERT_EQ(merge().exit_code, 0);
  const std::string first = merged();

  // outdoor_flag.json turned into a folder: nothing can be written there.
  const std::string list = data_ + "/caches/outdoor_flag.json";
  fs::rename(list, tmp_.path() + "/kept.json");
  fs::create_directories(list);
  ::testing::internal::CaptureStderr();
  const MergeResult result = merge();
  const std::string messages = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_FALSE(result.merged);
  EXPECT_NE(messages.find("Error: file " + list + " can't be written"), std::string::npos)
      << messages;
  EXPECT_TRUE(fs::is_directory(list));

  // Put back, a merge writes the same list again.
  fs::remove(list);
  fs::rename(tmp_.path() + "/kept.json", list);
  EXPECT_EQ(merge().exit_code, 0);
  EXPECT_EQ(merged(), first);
}

TEST_F(SplitMergeTest, MergeRefusesAndChangesNothing) {
  struct Case {
    const char* name;
    void (*spoil)(SplitMergeTest&);
    const char* message;
  };
  const Case cases[] = {
      {"shard never ran", [](SplitMergeTest& t) { fs::remove(WorkLayout(t.work_).shard_exit_file(1)); },
       "shard-0001 has not finished"},
      {"shard killed", [](SplitMergeTest& t) { write_file(WorkLayout(t.work_).shard_exit_file(1), "signal 9\n"); },
       "shard-0001 failed (quarrow ended with signal 9"},
      {"exit 1 without a list",
       [](SplitMergeTest& t) {
         write_file(WorkLayout(t.work_).shard_exit_file(1), "1\n");
         fs::remove(data_paths(WorkLayout(t.work_).shard_data_folder(1)).outdoor_flag_json);
       },
       "without writing"},
      {"half-written list",
       [](SplitMergeTest& t) {
         write_file(data_paths(WorkLayout(t.work_).shard_data_folder(0)).outdoor_flag_json,
                    "{\n    \"images\": [\n        {\n");
       },
       "shard-0000 failed"},
      {"shard folder gone",
       [](SplitMergeTest& t) { fs::remove_all(WorkLayout(t.work_).shard_data_folder(0)); },
       "shard-0000 is missing"},
      {"shard's images.json replaced",
       [](SplitMergeTest& t) {
         write_file(data_paths(WorkLayout(t.work_).shard_data_folder(0)).images_json,
                    R"({"images": [{"uuid": "q", "id": 9, "is_main": true}]})");
       },
       "shard-0000 was made from another images.json"},
      {"source images.json changed",
       [](SplitMergeTest& t) { t.set_records(std::string(kFiveRecords) + " "); },
       "made from another images.json than"},
      {"no manifest", [](SplitMergeTest& t) { fs::remove(WorkLayout(t.work_).manifest()); },
       "no manifest"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(data_ + "/caches");
    fs::remove_all(work_);
    fs::create_directories(data_ + "/caches/images");
    set_records(kFiveRecords);
    for (const char* uuid : {"a", "c", "d"}) add_image(uuid);
    split(2);
    finish_shard(0);
    finish_shard(1);
    c.spoil(*this);
    ::testing::internal::CaptureStderr();
    const MergeResult result = merge();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_FALSE(result.merged);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(data_ + "/caches/outdoor_flag.json"));
    EXPECT_FALSE(fs::exists(data_ + "/caches/segm"));
  }
}

TEST_F(SplitMergeTest, MergeRefusesAnotherDataFolder) {
  set_records(kFiveRecords);
  add_image("a");
  split(1);
  finish_shard(0);
  const std::string other = tmp_.path() + "/other";
  fs::create_directories(other + "/caches/images");
  fs::copy_file(data_ + "/caches/images.json", other + "/caches/images.json");
  ::testing::internal::CaptureStderr();
  const MergeResult result = merge_shards(other, work_);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(err.find("were made from"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(other + "/caches/outdoor_flag.json"));
  // The same folder named another way is the same folder.
  EXPECT_EQ(merge_shards(data_ + "/./caches/..", work_).exit_code, 0);
}

}  // namespace
}  // namespace quarrow::batch
