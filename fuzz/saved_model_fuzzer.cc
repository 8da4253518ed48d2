// libFuzzer target: an input is a SavedModel folder (saved_model.pb, then
// optionally variables.index and the data shard, separated by the section
// marker), loaded with TF_LoadSessionFromSavedModel and run once if it loads.
#include <cstddef>
#include <cstdint>

#include "entry_points.h"
#include "fuzz_dir.h"
#include "quiet_protobuf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)qfuzz::run_saved_model_input(data, size, qfuzz::scratch_folder());
  return 0;
}
