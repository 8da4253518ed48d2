// The activations TensorFlow graphs apply element-wise (Relu, Relu6, Elu,
// LeakyRelu, Sigmoid, Tanh), defined once: the element-wise kernels run these
// functors, and a convolution that absorbs a following activation uses the
// same ones for the outputs its primitive does not compute, so a fused and an
// unfused graph agree.
#pragma once

#include <cmath>
#include <string>

namespace qtf {

template <typename T>
struct ReluOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T x) { return x > T(0) ? x : T(0); }
};

template <typename T>
struct Relu6Op {
  static constexpr bool kFloatOnly = false;
  static T apply(T x) {
    const T r = x > T(0) ? x : T(0);
    return r < T(6) ? r : T(6);
  }
};

template <typename T>
struct EluOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return x > T(0) ? x : std::expm1(x); }
};

// Takes the node's float attr "alpha" (the slope below zero).
template <typename T>
struct LeakyReluOp {
  static constexpr bool kFloatOnly = true;
  static constexpr const char* kFloatAttr = "alpha";
  static T apply(T x, float alpha) { return x > T(0) ? x : static_cast<T>(alpha) * x; }
};

template <typename T>
struct SigmoidOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return T(1) / (T(1) + std::exp(-x)); }
};

template <typename T>
struct TanhOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::tanh(x); }
};

enum class Activation { kNone, kRelu, kRelu6, kElu, kLeakyRelu, kSigmoid, kTanh };

// The activation an op name stands for; kNone for any other op.
inline Activation activation_of_op(const std::string& op) {
  if (op == "Relu") return Activation::kRelu;
  if (op == "Relu6") return Activation::kRelu6;
  if (op == "Elu") return Activation::kElu;
  if (op == "LeakyRelu") return Activation::kLeakyRelu;
  if (op == "Sigmoid") return Activation::kSigmoid;
  if (op == "Tanh") return Activation::kTanh;
  return Activation::kNone;
}

// The activation on one value; alpha is LeakyRelu's slope.
inline float apply_activation(Activation activation, float alpha, float x) {
  switch (activation) {
    case Activation::kNone: return x;
    case Activation::kRelu: return ReluOp<float>::apply(x);
    case Activation::kRelu6: return Relu6Op<float>::apply(x);
    case Activation::kElu: return EluOp<float>::apply(x);
    case Activation::kLeakyRelu: return LeakyReluOp<float>::apply(x, alpha);
    case Activation::kSigmoid: return SigmoidOp<float>::apply(x);
    case Activation::kTanh: return TanhOp<float>::apply(x);
  }
  return x;
}

}  // namespace qtf
