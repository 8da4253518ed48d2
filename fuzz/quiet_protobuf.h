// Included by each fuzz target's one source file: defines libFuzzer's
// initialisation hook to drop libprotobuf's log lines. Mutated protos trip
// its "invalid UTF-8" line on most inputs; the runtime already reports the
// failure, so the line only floods the run log and slows the run.
#pragma once

#include <string>

#include <google/protobuf/stubs/logging.h>

namespace qfuzz {

inline void drop_protobuf_log(google::protobuf::LogLevel, const char*, int, const std::string&) {}

}  // namespace qfuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  google::protobuf::SetLogHandler(qfuzz::drop_protobuf_log);
  return 0;
}
