// The stateful random ops at inference: RandomStandardNormal, RandomUniform
// ([0, 1)), RandomUniformInt and TruncatedNormal.
//
// Seeded by the seed/seed2 attributes as TensorFlow seeds them, so the
// first run gives TensorFlow's values; seed = seed2 = 0 draws fresh seeds.
// Each run continues the generator past what the previous run reserved.
#include <mutex>
#include <random>
#include <string>

#include "core/kernel.h"
#include "kernels/random_fill.h"
#include "kernels/random_input.h"

namespace qtf {
namespace {

class RandomKernel : public OpKernel {
 public:
  RandomKernel(const NodeAttrs& attrs, Status* status, RandomDistribution dist)
      : where_(attrs.where()), dist_(dist), generator_({0, 0}, {0, 0, 0, 0}) {
    int64_t seed = 0, seed2 = 0;
    *status = attrs.get_type(dist == RandomDistribution::kUniformInt ? "Tout" : "dtype", &dtype_);
    if (status->is_ok()) *status = attrs.get_int("seed", &seed);
    if (status->is_ok()) *status = attrs.get_int("seed2", &seed2);
    if (!status->is_ok()) return;
    if (!random_dtype_supported(dist, dtype_)) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
      return;
    }
    if (seed == 0 && seed2 == 0) {
      std::random_device device;
      seed = static_cast<int64_t>((uint64_t{device()} << 32) | device());
      seed2 = static_cast<int64_t>((uint64_t{device()} << 32) | device());
    }
    generator_ = Philox::from_seeds(static_cast<uint64_t>(seed), static_cast<uint64_t>(seed2));
  }

  Status compute(OpKernelContext& ctx) override {
    Shape shape;
    QTF_RETURN_IF_ERROR(read_random_shape(where_, ctx.input(0), &shape));
    int64_t lo = 0, hi = 0;
    if (dist_ == RandomDistribution::kUniformInt) {
      QTF_RETURN_IF_ERROR(read_random_bounds(where_, ctx.input(1), ctx.input(2), dtype_, &lo, &hi));
    }
    Tensor& out = ctx.allocate_output(0, dtype_, shape);
    std::unique_lock<std::mutex> lock(mu_);
    const Philox local = generator_;
    generator_.skip(static_cast<uint64_t>(out.num_elements()) * kStatefulDrawsPerElement);
    lock.unlock();
    return fill_random(where_, dist_, local, lo, hi, out);
  }

 private:
  std::string where_;
  RandomDistribution dist_;
  DataType dtype_ = TF_FLOAT;
  std::mutex mu_;
  Philox generator_;
};

struct RandomStandardNormalKernel : RandomKernel {
  RandomStandardNormalKernel(const NodeAttrs& a, Status* s)
      : RandomKernel(a, s, RandomDistribution::kNormal) {}
};
struct RandomUniformKernel : RandomKernel {
  RandomUniformKernel(const NodeAttrs& a, Status* s)
      : RandomKernel(a, s, RandomDistribution::kUniform) {}
};
struct RandomUniformIntKernel : RandomKernel {
  RandomUniformIntKernel(const NodeAttrs& a, Status* s)
      : RandomKernel(a, s, RandomDistribution::kUniformInt) {}
};
struct TruncatedNormalKernel : RandomKernel {
  TruncatedNormalKernel(const NodeAttrs& a, Status* s)
      : RandomKernel(a, s, RandomDistribution::kTruncatedNormal) {}
};

// The three real-valued ops share one definition apart from the name.
#define QTF_RANDOM_OP_DEF(name_text)                                                  \
  "name: \"" name_text "\" "                                                         \
  "input_arg { name: \"shape\" type_attr: \"T\" } "                                  \
  "output_arg { name: \"output\" type_attr: \"dtype\" } "                            \
  "attr { name: \"seed\" type: \"int\" default_value { i: 0 } } "                    \
  "attr { name: \"seed2\" type: \"int\" default_value { i: 0 } } "                   \
  "attr { name: \"dtype\" type: \"type\" "                                           \
  "       allowed_values { list { type: [DT_HALF, DT_BFLOAT16, DT_FLOAT, DT_DOUBLE] } } } " \
  "attr { name: \"T\" type: \"type\" allowed_values { list { type: [DT_INT32, DT_INT64] } } } " \
  "is_stateful: true"

}  // namespace

QTF_REGISTER_KERNEL("RandomStandardNormal", RandomStandardNormalKernel);
QTF_REGISTER_KERNEL("RandomUniform", RandomUniformKernel);
QTF_REGISTER_KERNEL("RandomUniformInt", RandomUniformIntKernel);
QTF_REGISTER_KERNEL("TruncatedNormal", TruncatedNormalKernel);
QTF_REGISTER_OP_DEF(QTF_RANDOM_OP_DEF("RandomStandardNormal"));
QTF_REGISTER_OP_DEF(QTF_RANDOM_OP_DEF("RandomUniform"));
QTF_REGISTER_OP_DEF(QTF_RANDOM_OP_DEF("TruncatedNormal"));
QTF_REGISTER_OP_DEF(R"pb(
  name: "RandomUniformInt"
  input_arg { name: "shape" type_attr: "T" }
  input_arg { name: "minval" type_attr: "Tout" }
  input_arg { name: "maxval" type_attr: "Tout" }
  output_arg { name: "output" type_attr: "Tout" }
  attr { name: "seed" type: "int" default_value { i: 0 } }
  attr { name: "seed2" type: "int" default_value { i: 0 } }
  attr { name: "Tout" type: "type" allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  attr { name: "T" type: "type" allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  is_stateful: true)pb");

}  // namespace qtf
