#include "exec/plan.h"

#include <unordered_map>

#include "core/function_library.h"
#include "exec/conv_fusion_pass.h"
#include "exec/executor.h"
#include "exec/function_runtime.h"
#include "exec/op_census.h"

namespace qtf {
namespace {

int64_t ref_key(const ValueRef& ref) { return (int64_t(ref.node) << 32) | uint32_t(ref.output); }

std::string ref_name(const Body& body, const ValueRef& ref) {
  return body.node(ref.node).name + ":" + std::to_string(ref.output);
}

bool is_placeholder_op(const BodyNode& node) {
  return node.def != nullptr &&
         (node.def->op() == "Placeholder" || node.def->op() == "PlaceholderWithDefault");
}

}  // namespace

BodyInstance::BodyInstance(std::unique_ptr<Body> body, FunctionRuntime* runtime)
    : body_(std::move(body)), runtime_(runtime) {
  const size_t n = body_->nodes().size();
  kernels_.resize(n);
  callees_.resize(n, nullptr);
  prepared_.resize(n, 0);
}

BodyInstance::~BodyInstance() = default;

Status BodyInstance::prepare(int index) {
  const auto i = static_cast<size_t>(index);
  if (prepared_[i]) return Status::ok();
  const BodyNode& node = body_->node(index);
  QTF_RETURN_IF_ERROR(node.status);
  if (node.is_call()) {
    QTF_RETURN_IF_ERROR(runtime_->instantiate(*node.callee, *node.callee_attrs, &callees_[i]));
    const Body& callee = callees_[i]->instance->body();
    if (callee.ret_types().size() != node.outputs.types.size()) {
      return invalid_argument(body_->where(index) + " expects " +
                              std::to_string(node.outputs.types.size()) + " results from '" +
                              callee.function_name() + "', which has " +
                              std::to_string(callee.ret_types().size()));
    }
  } else {
    const std::string& op = node.def->op();
    if (is_reference_variable_op(op)) {
      return unimplemented("Reference variables of TensorFlow 1 (op '" + op + "', " +
                           body_->where(index) + ") are not supported; export with resource variables");
    }
    const KernelFactory factory = KernelRegistry::global().find(op);
    if (factory == nullptr) {
      return unimplemented("No kernel for op '" + op + "' (" + body_->where(index) + ")");
    }
    ResourceScope scope(&runtime_->resources());
    FunctionLibraryScope library(runtime_);
    QTF_RETURN_IF_ERROR(factory(NodeAttrs(node.name, op, node.def->attr()), &kernels_[i]));
    if (!kernels_[i]) return internal_error("Kernel factory for '" + op + "' made no kernel");
  }
  prepared_[i] = 1;
  return Status::ok();
}

Status BodyInstance::order_nodes(const std::vector<ValueRef>& feeds,
                                 const std::vector<ValueRef>& fetches,
                                 const std::vector<int>& targets, std::vector<int>* order) const {
  const Body& body = *body_;
  std::unordered_map<int64_t, int> fed;
  std::vector<uint8_t> replaced(body.nodes().size(), 0);
  for (const ValueRef& f : feeds) {
    fed.emplace(ref_key(f), 0);
    // A single-output node whose output is fed is replaced entirely, so a
    // control dependency on a fed placeholder does not demand its value.
    if (body.node(f.node).outputs.types.size() == 1) replaced[static_cast<size_t>(f.node)] = 1;
  }
  enum : uint8_t { kNew, kOpen, kDone };
  std::vector<uint8_t> state(body.nodes().size(), kNew);
  struct Pending {
    int node;
    size_t next;  // next dependency to visit: data inputs, then control inputs
  };
  std::vector<Pending> stack;
  auto visit = [&](int root) -> Status {
    if (state[static_cast<size_t>(root)] != kNew) return Status::ok();
    stack.push_back(Pending{root, 0});
    state[static_cast<size_t>(root)] = kOpen;
    while (!stack.empty()) {
      Pending& top = stack.back();
      const BodyNode& node = body.node(top.node);
      const size_t n_data = node.inputs.size();
      const size_t n_all = n_data + node.control_inputs.size();
      int child = -1;
      while (top.next < n_all && child < 0) {
        const size_t k = top.next++;
        if (k < n_data) {
          if (fed.count(ref_key(node.inputs[k])) == 0) child = node.inputs[k].node;
        } else {
          const int c = node.control_inputs[k - n_data];
          if (!replaced[static_cast<size_t>(c)]) child = c;
        }
        if (child >= 0 && body.node(child).is_arg()) child = -1;
      }
      if (child < 0) {
        state[static_cast<size_t>(top.node)] = kDone;
        order->push_back(top.node);
        stack.pop_back();
        continue;
      }
      const auto c = static_cast<size_t>(child);
      if (state[c] == kOpen) {
        return invalid_argument("Graph has a cycle through " + body.where(child));
      }
      if (state[c] == kNew) {
        state[c] = kOpen;
        stack.push_back(Pending{child, 0});
      }
    }
    return Status::ok();
  };
  for (const ValueRef& f : fetches) {
    if (fed.count(ref_key(f)) == 0 && !body.node(f.node).is_arg()) QTF_RETURN_IF_ERROR(visit(f.node));
  }
  for (int t : targets) {
    if (!replaced[static_cast<size_t>(t)] && !body.node(t).is_arg()) QTF_RETURN_IF_ERROR(visit(t));
  }
  return Status::ok();
}

Status BodyInstance::make_plan(const std::vector<ValueRef>& feeds,
                               const std::vector<ValueRef>& fetches,
                               const std::vector<int>& targets, std::unique_ptr<Plan>* out) {
  const Body& body = *body_;
  auto plan = std::make_unique<Plan>();
  plan->body = body_.get();

  std::unordered_map<int64_t, int> feed_slot;
  for (const ValueRef& f : feeds) {
    const BodyNode& node = body.node(f.node);
    if (!node.status.is_ok() && !node.is_arg()) {
      // A node with an unknown op can still be fed; its output count is unknown.
    } else if (f.output < 0 || f.output >= static_cast<int>(node.outputs.types.size())) {
      return invalid_argument("Cannot feed " + ref_name(body, f) + ": " + body.where(f.node) +
                              " has " + std::to_string(node.outputs.types.size()) + " outputs");
    }
    if (!feed_slot.emplace(ref_key(f), plan->num_slots).second) {
      return invalid_argument(ref_name(body, f) + " is fed more than once");
    }
    plan->feed_slots.push_back(plan->num_slots++);
    FeedCheck check;
    check.name = ref_name(body, f);
    if (node.status.is_ok()) check.dtype = node.outputs.types[static_cast<size_t>(f.output)];
    if (is_placeholder_op(node)) {
      const auto shape = node.def->attr().find("shape");
      if (shape != node.def->attr().end() &&
          shape->second.value_case() == tensorflow::AttrValue::kShape) {
        check.shape = partial_shape_from_proto(shape->second.shape());
      }
    }
    plan->feed_checks.push_back(std::move(check));
  }

  std::vector<int> order;
  QTF_RETURN_IF_ERROR(order_nodes(feeds, fetches, targets, &order));

  std::vector<int> first_slot(body.nodes().size(), -1);
  for (int index : order) {
    QTF_RETURN_IF_ERROR(prepare(index));
    const BodyNode& node = body.node(index);
    Step step;
    step.node = index;
    step.kernel = kernels_[static_cast<size_t>(index)].get();
    step.callee = callees_[static_cast<size_t>(index)];
    if (step.callee != nullptr) step.frame = std::make_shared<Frame>();
    step.first_output = plan->num_slots;
    step.num_outputs = static_cast<int>(node.outputs.types.size());
    first_slot[static_cast<size_t>(index)] = plan->num_slots;
    plan->num_slots += step.num_outputs;
    plan->steps.push_back(std::move(step));
  }

  auto slot_of = [&](const ValueRef& ref, int* slot) -> Status {
    const auto fed = feed_slot.find(ref_key(ref));
    if (fed != feed_slot.end()) {
      *slot = fed->second;
      return Status::ok();
    }
    const BodyNode& node = body.node(ref.node);
    if (node.is_arg()) return internal_error("Function argument " + node.name + " is not bound");
    if (ref.output < 0 || ref.output >= static_cast<int>(node.outputs.types.size())) {
      return invalid_argument(body.where(ref.node) + " has no output " + std::to_string(ref.output));
    }
    *slot = first_slot[static_cast<size_t>(ref.node)] + ref.output;
    return Status::ok();
  };

  for (Step& step : plan->steps) {
    for (const ValueRef& ref : body.node(step.node).inputs) {
      int slot = 0;
      QTF_RETURN_IF_ERROR(slot_of(ref, &slot));
      step.inputs.push_back(slot);
    }
  }
  for (const ValueRef& ref : fetches) {
    int slot = 0;
    QTF_RETURN_IF_ERROR(slot_of(ref, &slot));
    plan->fetch_slots.push_back(slot);
  }
  plan->fetch_moves.assign(plan->fetch_slots.size(), 1);
  for (size_t i = 0; i < plan->fetch_slots.size(); ++i) {
    for (size_t j = i + 1; j < plan->fetch_slots.size(); ++j) {
      if (plan->fetch_slots[j] == plan->fetch_slots[i]) plan->fetch_moves[i] = 0;
    }
  }

  QTF_RETURN_IF_ERROR(fuse_conv_chains(plan.get()));
  // Free every value as soon as its last reader has it; fetched values stay.
  std::vector<uint8_t> keep(static_cast<size_t>(plan->num_slots), 0);
  for (int slot : plan->fetch_slots) keep[static_cast<size_t>(slot)] = 1;
  std::vector<std::pair<int, int>> last_read(static_cast<size_t>(plan->num_slots), {-1, -1});
  for (size_t s = 0; s < plan->steps.size(); ++s) {
    Step& step = plan->steps[s];
    step.last_use.assign(step.inputs.size(), 0);
    for (size_t k = 0; k < step.inputs.size(); ++k) {
      last_read[static_cast<size_t>(step.inputs[k])] = {static_cast<int>(s), static_cast<int>(k)};
    }
  }
  for (size_t slot = 0; slot < last_read.size(); ++slot) {
    if (keep[slot]) continue;
    const auto [s, k] = last_read[slot];
    if (s >= 0) plan->steps[static_cast<size_t>(s)].last_use[static_cast<size_t>(k)] = 1;
  }
  for (Step& step : plan->steps) {
    for (int k = 0; k < step.num_outputs; ++k) {
      const int slot = step.first_output + k;
      if (!keep[static_cast<size_t>(slot)] && last_read[static_cast<size_t>(slot)].first < 0) {
        step.unread_outputs.push_back(slot);
      }
    }
  }
  *out = std::move(plan);
  return Status::ok();
}

}  // namespace qtf
