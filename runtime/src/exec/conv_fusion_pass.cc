#include "exec/conv_fusion_pass.h"

#include <vector>

#include "kernels/activations.h"

namespace qtf {
namespace {

const std::string& op_of(const Body& body, const Step& step) {
  static const std::string none;
  const BodyNode& node = body.node(step.node);
  return node.def != nullptr && step.kernel != nullptr ? node.def->op() : none;
}

bool is_float_nhwc(const tensorflow::NodeDef& def) {
  const auto t = def.attr().find("T");
  if (t == def.attr().end() || t->second.type() != tensorflow::DT_FLOAT) return false;
  const auto format = def.attr().find("data_format");
  return format == def.attr().end() || format->second.s() == "NHWC";
}

// A float Const whose value broadcasts along the channel axis only:
// shape [], [C], [1, C], [1, 1, C] or [1, 1, 1, C].
bool is_channel_constant(const tensorflow::NodeDef& def) {
  if (def.op() != "Const") return false;
  const auto value = def.attr().find("value");
  if (value == def.attr().end() || !value->second.has_tensor()) return false;
  const tensorflow::TensorProto& t = value->second.tensor();
  if (t.dtype() != tensorflow::DT_FLOAT || t.tensor_shape().unknown_rank()) return false;
  const int rank = t.tensor_shape().dim_size();
  if (rank > 4) return false;
  for (int i = 0; i + 1 < rank; ++i) {
    if (t.tensor_shape().dim(i).size() != 1) return false;
  }
  return true;
}

class ChainFinder {
 public:
  explicit ChainFinder(Plan* plan) : plan_(*plan), body_(*plan->body) {
    readers_.assign(static_cast<size_t>(plan_.num_slots), 0);
    reader_step_.assign(static_cast<size_t>(plan_.num_slots), -1);
    producer_.assign(static_cast<size_t>(plan_.num_slots), -1);
    controlled_.assign(body_.nodes().size(), 0);
    for (size_t s = 0; s < plan_.steps.size(); ++s) {
      const Step& step = plan_.steps[s];
      for (int slot : step.inputs) {
        ++readers_[static_cast<size_t>(slot)];
        reader_step_[static_cast<size_t>(slot)] = static_cast<int>(s);
      }
      for (int k = 0; k < step.num_outputs; ++k) {
        producer_[static_cast<size_t>(step.first_output + k)] = static_cast<int>(s);
      }
      for (int c : body_.node(step.node).control_inputs) controlled_[static_cast<size_t>(c)] = 1;
    }
    for (int c : body_.control_rets()) controlled_[static_cast<size_t>(c)] = 1;
    // A fetched value has a reader outside the plan.
    for (int slot : plan_.fetch_slots) readers_[static_cast<size_t>(slot)] += 2;
  }

  // The step that alone reads the only output of step `s`, or -1.
  int sole_reader(int s) const {
    const Step& step = plan_.steps[static_cast<size_t>(s)];
    if (step.num_outputs != 1 || controlled_[static_cast<size_t>(step.node)]) return -1;
    const auto slot = static_cast<size_t>(step.first_output);
    return readers_[slot] == 1 ? reader_step_[slot] : -1;
  }
  int producer(int slot) const { return producer_[static_cast<size_t>(slot)]; }

 private:
  const Plan& plan_;
  const Body& body_;
  std::vector<int> readers_, reader_step_, producer_;
  std::vector<uint8_t> controlled_;
};

}  // namespace

Status fuse_conv_chains(Plan* plan) {
  const Body& body = *plan->body;
  ChainFinder finder(plan);
  std::vector<uint8_t> removed(plan->steps.size(), 0);
  for (size_t s = 0; s < plan->steps.size(); ++s) {
    const Step& conv = plan->steps[s];
    const std::string& conv_op = op_of(body, conv);
    if ((conv_op != "Conv2D" && conv_op != "DepthwiseConv2dNative") || conv.inputs.size() != 2 ||
        !is_float_nhwc(*body.node(conv.node).def)) {
      continue;
    }
    std::vector<int> chain{static_cast<int>(s)};
    int bias_slot = -1;
    Activation activation = Activation::kNone;
    const tensorflow::NodeDef* activation_def = nullptr;

    int next = finder.sole_reader(chain.back());
    if (next >= 0) {
      const Step& step = plan->steps[static_cast<size_t>(next)];
      const std::string& op = op_of(body, step);
      const tensorflow::NodeDef& def = *body.node(step.node).def;
      const int conv_slot = conv.first_output;
      if (op == "BiasAdd" && is_float_nhwc(def) && step.inputs.size() == 2 && step.inputs[0] == conv_slot) {
        bias_slot = step.inputs[1];
      } else if ((op == "Add" || op == "AddV2") && is_float_nhwc(def) && step.inputs.size() == 2) {
        const int other = step.inputs[0] == conv_slot ? step.inputs[1] : step.inputs[0];
        const int source = finder.producer(other);
        if (other != conv_slot && source >= 0 &&
            is_channel_constant(*body.node(plan->steps[static_cast<size_t>(source)].node).def)) {
          bias_slot = other;
        }
      }
      if (bias_slot >= 0) {
        chain.push_back(next);
        next = finder.sole_reader(next);
      }
    }
    if (next >= 0) {
      const Step& step = plan->steps[static_cast<size_t>(next)];
      const std::string& op = op_of(body, step);
      const tensorflow::NodeDef* def = body.node(step.node).def;
      if (activation_of_op(op) != Activation::kNone && is_float_nhwc(*def) && step.inputs.size() == 1) {
        activation = activation_of_op(op);
        activation_def = def;
        chain.push_back(next);
      }
    }
    if (chain.size() < 2) continue;

    // The fused node: the convolution's attrs plus what was folded into it.
    const tensorflow::NodeDef& conv_def = *body.node(conv.node).def;
    tensorflow::NodeDef fused;
    fused.set_name(conv_def.name());
    fused.set_op("_Fused" + conv_op);
    *fused.mutable_attr() = conv_def.attr();
    auto* fused_ops = (*fused.mutable_attr())["fused_ops"].mutable_list();
    if (bias_slot >= 0) fused_ops->add_s("BiasAdd");
    if (activation_def != nullptr) fused_ops->add_s(activation_def->op());
    (*fused.mutable_attr())["num_args"].set_i(bias_slot >= 0 ? 1 : 0);
    if (activation == Activation::kLeakyRelu) {
      const auto alpha = activation_def->attr().find("alpha");
      (*fused.mutable_attr())["leakyrelu_alpha"].set_f(alpha != activation_def->attr().end() ? alpha->second.f()
                                                                                           : 0.2f);
    }
    const KernelFactory factory = KernelRegistry::global().find(fused.op());
    std::unique_ptr<OpKernel> kernel;
    if (factory == nullptr || !factory(NodeAttrs(fused.name(), fused.op(), fused.attr()), &kernel).is_ok() ||
        !kernel) {
      continue;
    }
    Step& last = plan->steps[static_cast<size_t>(chain.back())];
    last.kernel = kernel.get();
    last.callee = nullptr;
    last.inputs = {conv.inputs[0], conv.inputs[1]};
    if (bias_slot >= 0) last.inputs.push_back(bias_slot);
    plan->fused_kernels.push_back(std::move(kernel));
    for (size_t k = 0; k + 1 < chain.size(); ++k) removed[static_cast<size_t>(chain[k])] = 1;
  }
  std::vector<Step> kept;
  kept.reserve(plan->steps.size());
  for (size_t s = 0; s < plan->steps.size(); ++s) {
    if (!removed[s]) kept.push_back(std::move(plan->steps[s]));
  }
  plan->steps = std::move(kept);
  return Status::ok();
}

}  // namespace qtf
