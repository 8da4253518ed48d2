#include "exec/executor.h"

#include <chrono>
#include <new>

#include "exec/step_timing.h"

namespace qtf {
namespace {

Status annotate(const Status& s, const Body& body, int node) {
  const std::string& name = body.node(node).name;
  if (s.message().find("'" + name + "'") != std::string::npos && body.function_name().empty()) {
    return s;
  }
  return Status(s.code(), s.message() + " [" + body.where(node) + "]");
}

Status check_feeds(const Plan& plan, const std::vector<Tensor>& feeds) {
  if (feeds.size() != plan.feed_slots.size()) {
    return invalid_argument("Expected " + std::to_string(plan.feed_slots.size()) + " feeds, got " +
                            std::to_string(feeds.size()));
  }
  for (size_t i = 0; i < feeds.size(); ++i) {
    const FeedCheck& check = plan.feed_checks[i];
    const Tensor& t = feeds[i];
    if (!t.valid()) return invalid_argument("No value fed for " + check.name);
    if (check.dtype != 0 && t.dtype() != check.dtype) {
      return invalid_argument(std::string("Feed for ") + check.name + " has type " +
                              dtype_name(t.dtype()) + ", expected " + dtype_name(check.dtype));
    }
    if (!check.shape.is_compatible_with(t.shape())) {
      return invalid_argument("Feed for " + check.name + " has shape " + shape_string(t.shape()) +
                              ", which is not compatible with " + check.shape.to_string());
    }
  }
  return Status::ok();
}

Status run_steps(const Plan& plan, std::vector<Tensor>& slots) {
  const Body& body = *plan.body;
  std::vector<Tensor> inputs;
  std::vector<Tensor> outputs;
  for (const Step& step : plan.steps) {
    inputs.clear();
    for (size_t k = 0; k < step.inputs.size(); ++k) {
      Tensor& value = slots[static_cast<size_t>(step.inputs[k])];
      if (!value.valid()) {
        return internal_error("Input " + std::to_string(k) + " of " + body.where(step.node) +
                              " was not produced by its source node");
      }
      if (step.last_use[k]) {
        inputs.push_back(std::move(value));
        value = Tensor();
      } else {
        inputs.push_back(value);
      }
    }
    outputs.assign(static_cast<size_t>(step.num_outputs), Tensor());
    Status s;
    if (step.kernel != nullptr) {
      OpKernelContext ctx(inputs, &outputs);
      StepRecorder* recorder = step_recorder();
      if (recorder == nullptr) {
        s = step.kernel->compute(ctx);
      } else {
        const auto t0 = std::chrono::steady_clock::now();
        s = step.kernel->compute(ctx);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        const BodyNode& node = body.node(step.node);
        recorder->record(node.name, node.def != nullptr ? node.def->op() : std::string(), ms);
      }
    } else {
      const Plan& callee = *step.callee->plan;
      s = run_plan(callee, std::move(inputs), &outputs);
      inputs = std::vector<Tensor>();
    }
    if (!s.is_ok()) return annotate(s, body, step.node);
    const auto& types = body.node(step.node).outputs.types;
    for (int k = 0; k < step.num_outputs; ++k) {
      Tensor& out = outputs[static_cast<size_t>(k)];
      if (out.valid() && types[static_cast<size_t>(k)] != 0 &&
          out.dtype() != types[static_cast<size_t>(k)]) {
        return internal_error(body.where(step.node) + " produced " + dtype_name(out.dtype()) +
                              " for output " + std::to_string(k) + ", declared " +
                              dtype_name(types[static_cast<size_t>(k)]));
      }
      slots[static_cast<size_t>(step.first_output + k)] = std::move(out);
    }
    for (int slot : step.unread_outputs) slots[static_cast<size_t>(slot)] = Tensor();
  }
  return Status::ok();
}

}  // namespace

Status run_plan(const Plan& plan, std::vector<Tensor> feeds, std::vector<Tensor>* fetches) {
  QTF_RETURN_IF_ERROR(check_feeds(plan, feeds));
  std::vector<Tensor> slots(static_cast<size_t>(plan.num_slots));
  for (size_t i = 0; i < feeds.size(); ++i) {
    slots[static_cast<size_t>(plan.feed_slots[i])] = std::move(feeds[i]);
  }
  feeds.clear();
  QTF_RETURN_IF_ERROR(run_steps(plan, slots));
  fetches->clear();
  fetches->reserve(plan.fetch_slots.size());
  for (int slot : plan.fetch_slots) {
    const Tensor& value = slots[static_cast<size_t>(slot)];
    if (!value.valid()) {
      return internal_error("Fetched value in slot " + std::to_string(slot) + " was not produced");
    }
    fetches->push_back(value);
  }
  return Status::ok();
}

}  // namespace qtf
