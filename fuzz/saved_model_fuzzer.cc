// libFuzzer target: an input is a SavedModel folder (saved_model.pb, then
// optionally variables.index and the data shard, separated by the section
// marker), loaded with TF_LoadSessionFromSavedModel and run once if it loads.
#include <cstddef>
#include <cstdint>
#include <string>

#include <google/protobuf/stubs/logging.h>

#include "entry_points.h"
#include "fuzz_dir.h"

namespace {

// Mutated protos trip libprotobuf's "invalid UTF-8" log line on most inputs;
// the loader already reports the failure, so the line only floods the log.
void drop_protobuf_log(google::protobuf::LogLevel, const char*, int, const std::string&) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  google::protobuf::SetLogHandler(drop_protobuf_log);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)qfuzz::run_saved_model_input(data, size, qfuzz::scratch_folder());
  return 0;
}
