// Reductions over a set of axes (Sum, Mean, Max, Min, Prod, All, Any).
//
// A reducer is `R<T>` with an accumulator type `Acc`, `init()`,
// `add(Acc, T)` and `finish(Acc, count)`; one that declares `kBoolOnly`
// reads bool input and has no "T" attr (All, Any). Axes come from the second input
// (int32/int64 scalar or vector, negatives count from the end, repeats
// allowed). The input is walked once in memory order: neighbouring axes of
// the same kind are merged first, so the usual cases (spatial mean of NHWC,
// last-axis sum) run as one or two plain loops.
#pragma once

#include <type_traits>
#include <vector>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/index_input.h"
#include "kernels/op_traits.h"

namespace qtf {

// Sums in double for real types and int64 for integers.
template <typename T>
using WideAcc = typename std::conditional<std::is_floating_point<T>::value, double, int64_t>::type;

template <template <typename> class R>
class ReduceKernel : public OpKernel {
 public:
  ReduceKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_bool("keep_dims", &keep_dims_);
    if (!status->is_ok()) return;
    if constexpr (BoolOnly<R>::value) {
      dtype_ = TF_BOOL;
      loop_ = &run<bool>;
      return;
    } else {
      *status = attrs.get_type("T", &dtype_);
      if (!status->is_ok()) return;
      dispatch_numeric(dtype_, [&](auto tag) { loop_ = &run<typename decltype(tag)::type>; });
    }
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (in.dtype() != dtype_) {
      return invalid_argument(where_ + "input is " + dtype_name(in.dtype()) + ", expected " +
                              dtype_name(dtype_));
    }
    std::vector<int64_t> axes;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "reduction_indices", &axes));
    std::vector<bool> reduced(static_cast<size_t>(in.rank()), false);
    for (int64_t a : axes) {
      int64_t axis = 0;
      QTF_RETURN_IF_ERROR(canonical_axis(a, in.rank(), where_, &axis));
      reduced[static_cast<size_t>(axis)] = true;
    }
    Shape out_shape;
    for (int d = 0; d < in.rank(); ++d) {
      if (!reduced[static_cast<size_t>(d)]) out_shape.push_back(in.dim(d));
      else if (keep_dims_) out_shape.push_back(1);
    }
    Tensor& out = ctx.allocate_output(0, dtype_, out_shape);
    loop_(in, reduced, out);
    return Status::ok();
  }

 private:
  template <typename T>
  static void run(const Tensor& in, const std::vector<bool>& reduced, Tensor& out) {
    using Reducer = R<T>;
    using Acc = typename Reducer::Acc;
    // Merge neighbouring axes of one kind; size-1 axes change nothing.
    std::vector<int64_t> dims;
    std::vector<bool> red;
    int64_t count = 1;
    for (int d = 0; d < in.rank(); ++d) {
      const int64_t n = in.dim(d);
      if (reduced[static_cast<size_t>(d)]) count *= n;
      if (n == 1) continue;
      if (!dims.empty() && red.back() == reduced[static_cast<size_t>(d)]) {
        dims.back() *= n;
      } else {
        dims.push_back(n);
        red.push_back(reduced[static_cast<size_t>(d)]);
      }
    }
    std::vector<Acc> acc(static_cast<size_t>(out.num_elements()), Reducer::init());
    const T* x = in.data<T>();
    const int64_t total = in.num_elements();
    if (total > 0 && dims.empty()) {
      acc[0] = Reducer::add(acc[0], x[0]);
    } else if (total > 0) {
      // Output strides: kept axes in order, reduced axes 0.
      const size_t rank = dims.size();
      std::vector<int64_t> ostride(rank, 0);
      int64_t step = 1;
      for (size_t d = rank; d-- > 0;) {
        if (!red[d]) {
          ostride[d] = step;
          step *= dims[d];
        }
      }
      const int64_t inner = dims[rank - 1];
      const bool inner_reduced = red[rank - 1];
      std::vector<int64_t> index(rank, 0);
      int64_t o = 0;
      for (int64_t done = 0; done < total; done += inner) {
        const T* xp = x + done;
        if (inner_reduced) {
          Acc a = acc[static_cast<size_t>(o)];
          for (int64_t i = 0; i < inner; ++i) a = Reducer::add(a, xp[i]);
          acc[static_cast<size_t>(o)] = a;
        } else {
          Acc* ap = acc.data() + o;
          for (int64_t i = 0; i < inner; ++i) ap[i] = Reducer::add(ap[i], xp[i]);
        }
        for (size_t d = rank - 1; d-- > 0;) {
          o += ostride[d];
          if (++index[d] < dims[d]) break;
          o -= ostride[d] * dims[d];
          index[d] = 0;
        }
      }
    }
    T* y = out.data<T>();
    for (size_t i = 0; i < acc.size(); ++i) y[i] = Reducer::finish(acc[i], count);
  }

  std::string where_;
  DataType dtype_ = TF_FLOAT;
  bool keep_dims_ = false;
  void (*loop_)(const Tensor&, const std::vector<bool>&, Tensor&) = nullptr;
};

}  // namespace qtf

// OpDef of a reduction named `name_text`.
#define QTF_REDUCTION_OP_DEF(name_text)                                              \
  "name: \"" name_text "\" "                                                        \
  "input_arg { name: \"input\" type_attr: \"T\" } "                                 \
  "input_arg { name: \"reduction_indices\" type_attr: \"Tidx\" } "                  \
  "output_arg { name: \"output\" type_attr: \"T\" } "                               \
  "attr { name: \"keep_dims\" type: \"bool\" default_value { b: false } } "         \
  "attr { name: \"T\" type: \"type\" } "                                            \
  "attr { name: \"Tidx\" type: \"type\" default_value { type: DT_INT32 } "          \
  "allowed_values { list { type: [DT_INT32, DT_INT64] } } }"

// OpDef of a logical reduction (bool in, bool out, no "T").
#define QTF_LOGICAL_REDUCTION_OP_DEF(name_text)                                      \
  "name: \"" name_text "\" "                                                        \
  "input_arg { name: \"input\" type: DT_BOOL } "                                    \
  "input_arg { name: \"reduction_indices\" type_attr: \"Tidx\" } "                  \
  "output_arg { name: \"output\" type: DT_BOOL } "                                  \
  "attr { name: \"keep_dims\" type: \"bool\" default_value { b: false } } "         \
  "attr { name: \"Tidx\" type: \"type\" default_value { type: DT_INT32 } "          \
  "allowed_values { list { type: [DT_INT32, DT_INT64] } } }"
