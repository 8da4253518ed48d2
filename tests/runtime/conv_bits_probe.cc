// Runs 3x3 convolutions with the default choice of method and prints, per
// shape, the method and a checksum of the output's bytes, then the pool's
// thread count: kernel_conv_method_test starts it with different thread
// counts and compares the bytes.
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "kernel_testing.h"
#include "kernels/dnnl/conv_method.h"
#include "threading/thread_pool.h"
#include "util/crc32c.h"

int main() {
  using qtf::testing::Node;
  // Wide shapes take Winograd where oneDNN has it; the last stays direct.
  const struct {
    int64_t h, w, in_c, out_c;
  } shapes[] = {{64, 128, 64, 64}, {40, 48, 64, 32}, {32, 64, 128, 128}, {48, 64, 32, 16}};
  for (const auto& s : shapes) {
    Node node("Conv2D");
    node.attr("T", TF_FLOAT).attr("padding", "SAME").attr("strides", {1, 1, 1, 1});
    std::vector<qtf::Tensor> out;
    const qtf::Status status =
        node.run({qtf::testing::make<float>({1, s.h, s.w, s.in_c},
                                            qtf::testing::pattern(static_cast<size_t>(s.h * s.w * s.in_c), 29, 0.05f)),
                  qtf::testing::make<float>({3, 3, s.in_c, s.out_c},
                                            qtf::testing::pattern(static_cast<size_t>(9 * s.in_c * s.out_c), 17, 0.02f))},
                 &out);
    if (!status.is_ok() || out.empty()) {
      std::fprintf(stderr, "convolution failed: %s\n", status.message().c_str());
      return 1;
    }
    const std::vector<qtf::ConvMethodChoice> choices = qtf::conv_method_choices();
    std::printf("%" PRId64 "x%" PRId64 " %" PRId64 "->%" PRId64 " %s %08" PRIx32 "\n", s.h, s.w, s.in_c, s.out_c,
                choices.empty() ? "?" : qtf::conv_method_name(choices.back().method),
                qtf::crc32c(out[0].raw(), static_cast<size_t>(out[0].num_elements()) * sizeof(float)));
  }
  std::printf("threads %d\n", qtf::ThreadPool::global().size());
  return 0;
}
