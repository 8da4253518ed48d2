// The stateless random ops: values are a function of the shape and a seed
// (StatelessRandomNormal, StatelessRandomUniform, StatelessRandomUniformInt,
// StatelessTruncatedNormal) or of an explicit key and counter (their V2
// forms, which tf.random.stateless_* emits), plus the ops that turn a seed
// into that key and counter. Only the Philox algorithm exists on CPU (alg 1;
// 3, "auto select", means Philox here); ThreeFry (2) is refused.
#include <string>

#include "core/kernel.h"
#include "kernels/index_input.h"
#include "kernels/random_fill.h"
#include "kernels/random_input.h"

namespace qtf {
namespace {

constexpr int32_t kAlgPhilox = 1;
constexpr int32_t kAlgAutoSelect = 3;

Status read_seed(const std::string& where, const Tensor& seed, Philox* out) {
  std::vector<int64_t> v;
  QTF_RETURN_IF_ERROR(read_index_vector(seed, where, "seed", &v));
  if (v.size() != 2) {
    return invalid_argument(where + "seed must have shape [2], got " + shape_string(seed.shape()));
  }
  *out = Philox::from_stateless_seed(static_cast<uint64_t>(v[0]), static_cast<uint64_t>(v[1]));
  return Status::ok();
}

Status read_key_counter(const std::string& where, const Tensor& key, const Tensor& counter,
                        const Tensor& alg, Philox* out) {
  if (alg.dtype() != TF_INT32 || alg.num_elements() != 1) {
    return invalid_argument(where + "alg must be an int32 scalar");
  }
  const int32_t a = alg.data<int32_t>()[0];
  if (a != kAlgPhilox && a != kAlgAutoSelect) {
    return unimplemented(where + "random algorithm " + std::to_string(a) +
                         " is not supported (Philox only)");
  }
  if (key.dtype() != TF_UINT64 || key.num_elements() != 1 || counter.dtype() != TF_UINT64 ||
      counter.num_elements() < 2) {
    return invalid_argument(where + "key must be one uint64 and counter two, got " +
                            shape_string(key.shape()) + " and " + shape_string(counter.shape()));
  }
  const uint64_t k = key.data<uint64_t>()[0];
  const uint64_t c0 = counter.data<uint64_t>()[0], c1 = counter.data<uint64_t>()[1];
  *out = Philox({static_cast<uint32_t>(k), static_cast<uint32_t>(k >> 32)},
                {static_cast<uint32_t>(c0), static_cast<uint32_t>(c0 >> 32),
                 static_cast<uint32_t>(c1), static_cast<uint32_t>(c1 >> 32)});
  return Status::ok();
}

// Inputs: shape, then the seed (V1) or key, counter, alg (V2), then minval
// and maxval for the integer forms.
class StatelessRandomKernel : public OpKernel {
 public:
  StatelessRandomKernel(const NodeAttrs& attrs, Status* status, RandomDistribution dist, bool v2)
      : where_(attrs.where()), dist_(dist), v2_(v2) {
    *status = attrs.get_type("dtype", &dtype_);
    if (status->is_ok() && !random_dtype_supported(dist, dtype_)) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    Shape shape;
    QTF_RETURN_IF_ERROR(read_random_shape(where_, ctx.input(0), &shape));
    Philox gen({0, 0}, {0, 0, 0, 0});
    QTF_RETURN_IF_ERROR(v2_ ? read_key_counter(where_, ctx.input(1), ctx.input(2), ctx.input(3),
                                               &gen)
                            : read_seed(where_, ctx.input(1), &gen));
    int64_t lo = 0, hi = 0;
    if (dist_ == RandomDistribution::kUniformInt) {
      const int first = v2_ ? 4 : 2;
      QTF_RETURN_IF_ERROR(
          read_random_bounds(where_, ctx.input(first), ctx.input(first + 1), dtype_, &lo, &hi));
    }
    return fill_random(where_, dist_, gen, lo, hi, ctx.allocate_output(0, dtype_, shape));
  }

 private:
  std::string where_;
  RandomDistribution dist_;
  bool v2_;
  DataType dtype_ = TF_FLOAT;
};

template <RandomDistribution kDist, bool kV2>
struct StatelessKernel : StatelessRandomKernel {
  StatelessKernel(const NodeAttrs& a, Status* s) : StatelessRandomKernel(a, s, kDist, kV2) {}
};

// StatelessRandomGetKeyCounter(Alg) and StatelessRandomGetAlg.
class KeyCounterKernel : public OpKernel {
 public:
  KeyCounterKernel(const NodeAttrs& attrs, Status*)
      : where_(attrs.where()), op_(attrs.op()) {}

  Status compute(OpKernelContext& ctx) override {
    if (op_ == "StatelessRandomGetAlg") {
      ctx.allocate_output(0, TF_INT32, {}).data<int32_t>()[0] = kAlgPhilox;
      return Status::ok();
    }
    Philox gen({0, 0}, {0, 0, 0, 0});
    QTF_RETURN_IF_ERROR(read_seed(where_, ctx.input(0), &gen));
    const auto join = [](uint32_t lo, uint32_t hi) { return (uint64_t{hi} << 32) | lo; };
    ctx.allocate_output(0, TF_UINT64, {1}).data<uint64_t>()[0] = join(gen.key()[0], gen.key()[1]);
    uint64_t* counter = ctx.allocate_output(1, TF_UINT64, {2}).data<uint64_t>();
    counter[0] = join(gen.counter()[0], gen.counter()[1]);
    counter[1] = join(gen.counter()[2], gen.counter()[3]);
    if (ctx.num_outputs() > 2) ctx.allocate_output(2, TF_INT32, {}).data<int32_t>()[0] = kAlgPhilox;
    return Status::ok();
  }

 private:
  std::string where_, op_;
};

using RD = RandomDistribution;
using StatelessNormalKernel = StatelessKernel<RD::kNormal, false>;
using StatelessUniformKernel = StatelessKernel<RD::kUniform, false>;
using StatelessTruncatedKernel = StatelessKernel<RD::kTruncatedNormal, false>;
using StatelessUniformIntKernel = StatelessKernel<RD::kUniformInt, false>;
using StatelessNormalV2Kernel = StatelessKernel<RD::kNormal, true>;
using StatelessUniformV2Kernel = StatelessKernel<RD::kUniform, true>;
using StatelessTruncatedV2Kernel = StatelessKernel<RD::kTruncatedNormal, true>;
using StatelessUniformIntV2Kernel = StatelessKernel<RD::kUniformInt, true>;

// V1 ops: shape (T), seed (Tseed).
#define QTF_STATELESS_V1_OP_DEF(name_text)                                              \
  "name: \"" name_text "\" "                                                           \
  "input_arg { name: \"shape\" type_attr: \"T\" } "                                    \
  "input_arg { name: \"seed\" type_attr: \"Tseed\" } "                                 \
  "output_arg { name: \"output\" type_attr: \"dtype\" } "                              \
  "attr { name: \"dtype\" type: \"type\" default_value { type: DT_FLOAT } "            \
  "       allowed_values { list { type: [DT_HALF, DT_BFLOAT16, DT_FLOAT, DT_DOUBLE] } } } " \
  "attr { name: \"T\" type: \"type\" default_value { type: DT_INT32 } "                \
  "       allowed_values { list { type: [DT_INT32, DT_INT64] } } } "                   \
  "attr { name: \"Tseed\" type: \"type\" default_value { type: DT_INT64 } "            \
  "       allowed_values { list { type: [DT_INT32, DT_INT64] } } }"

// V2 ops: shape (Tshape), key, counter, alg.
#define QTF_STATELESS_V2_OP_DEF(name_text)                                              \
  "name: \"" name_text "\" "                                                           \
  "input_arg { name: \"shape\" type_attr: \"Tshape\" } "                               \
  "input_arg { name: \"key\" type: DT_UINT64 } "                                       \
  "input_arg { name: \"counter\" type: DT_UINT64 } "                                   \
  "input_arg { name: \"alg\" type: DT_INT32 } "                                        \
  "output_arg { name: \"output\" type_attr: \"dtype\" } "                              \
  "attr { name: \"dtype\" type: \"type\" default_value { type: DT_FLOAT } "            \
  "       allowed_values { list { type: [DT_HALF, DT_BFLOAT16, DT_FLOAT, DT_DOUBLE] } } } " \
  "attr { name: \"Tshape\" type: \"type\" default_value { type: DT_INT32 } "           \
  "       allowed_values { list { type: [DT_INT32, DT_INT64] } } }"

}  // namespace

QTF_REGISTER_KERNEL("StatelessRandomNormal", StatelessNormalKernel);
QTF_REGISTER_KERNEL("StatelessRandomUniform", StatelessUniformKernel);
QTF_REGISTER_KERNEL("StatelessTruncatedNormal", StatelessTruncatedKernel);
QTF_REGISTER_KERNEL("StatelessRandomUniformInt", StatelessUniformIntKernel);
QTF_REGISTER_KERNEL("StatelessRandomNormalV2", StatelessNormalV2Kernel);
QTF_REGISTER_KERNEL("StatelessRandomUniformV2", StatelessUniformV2Kernel);
QTF_REGISTER_KERNEL("StatelessTruncatedNormalV2", StatelessTruncatedV2Kernel);
QTF_REGISTER_KERNEL("StatelessRandomUniformIntV2", StatelessUniformIntV2Kernel);
QTF_REGISTER_KERNEL("StatelessRandomGetKeyCounter", KeyCounterKernel);
QTF_REGISTER_KERNEL("StatelessRandomGetKeyCounterAlg", KeyCounterKernel);
QTF_REGISTER_KERNEL("StatelessRandomGetAlg", KeyCounterKernel);
QTF_REGISTER_OP_DEF(QTF_STATELESS_V1_OP_DEF("StatelessRandomNormal"));
QTF_REGISTER_OP_DEF(QTF_STATELESS_V1_OP_DEF("StatelessRandomUniform"));
QTF_REGISTER_OP_DEF(QTF_STATELESS_V1_OP_DEF("StatelessTruncatedNormal"));
QTF_REGISTER_OP_DEF(QTF_STATELESS_V2_OP_DEF("StatelessRandomNormalV2"));
QTF_REGISTER_OP_DEF(QTF_STATELESS_V2_OP_DEF("StatelessRandomUniformV2"));
QTF_REGISTER_OP_DEF(QTF_STATELESS_V2_OP_DEF("StatelessTruncatedNormalV2"));
QTF_REGISTER_OP_DEF(R"pb(
  name: "StatelessRandomUniformInt"
  input_arg { name: "shape" type_attr: "T" }
  input_arg { name: "seed" type_attr: "Tseed" }
  input_arg { name: "minval" type_attr: "dtype" }
  input_arg { name: "maxval" type_attr: "dtype" }
  output_arg { name: "output" type_attr: "dtype" }
  attr { name: "dtype" type: "type" allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  attr { name: "T" type: "type" allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  attr { name: "Tseed" type: "type" default_value { type: DT_INT64 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "StatelessRandomUniformIntV2"
  input_arg { name: "shape" type_attr: "Tshape" }
  input_arg { name: "key" type: DT_UINT64 }
  input_arg { name: "counter" type: DT_UINT64 }
  input_arg { name: "alg" type: DT_INT32 }
  input_arg { name: "minval" type_attr: "dtype" }
  input_arg { name: "maxval" type_attr: "dtype" }
  output_arg { name: "output" type_attr: "dtype" }
  attr { name: "dtype" type: "type"
         allowed_values { list { type: [DT_INT32, DT_INT64, DT_UINT32, DT_UINT64] } } }
  attr { name: "Tshape" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "StatelessRandomGetKeyCounter"
  input_arg { name: "seed" type_attr: "Tseed" }
  output_arg { name: "key" type: DT_UINT64 }
  output_arg { name: "counter" type: DT_UINT64 }
  attr { name: "Tseed" type: "type" default_value { type: DT_INT64 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "StatelessRandomGetKeyCounterAlg"
  input_arg { name: "seed" type_attr: "Tseed" }
  output_arg { name: "key" type: DT_UINT64 }
  output_arg { name: "counter" type: DT_UINT64 }
  output_arg { name: "alg" type: DT_INT32 }
  attr { name: "Tseed" type: "type" default_value { type: DT_INT64 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  is_stateful: true)pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "StatelessRandomGetAlg"
  output_arg { name: "alg" type: DT_INT32 }
  is_stateful: true)pb");

}  // namespace qtf
