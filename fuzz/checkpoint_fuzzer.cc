// libFuzzer target: an input is a checkpoint (variables.index, then
// optionally the data shard after the section marker); every tensor is read.
#include <cstddef>
#include <cstdint>

#include "entry_points.h"
#include "fuzz_dir.h"
#include "quiet_protobuf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)qfuzz::run_checkpoint_input(data, size, qfuzz::scratch_folder());
  return 0;
}
