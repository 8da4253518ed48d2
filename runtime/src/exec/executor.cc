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

}  // namespace

Status Frame::run_steps(const Plan& plan) {
  const Body& body = *plan.body;
  for (const Step& step : plan.steps) {
    inputs_.clear();
    for (size_t k = 0; k < step.inputs.size(); ++k) {
      Tensor& value = slots_[static_cast<size_t>(step.inputs[k])];
      if (!value.valid()) {
        return internal_error("Input " + std::to_string(k) + " of " + body.where(step.node) +
                              " was not produced by its source node");
      }
      if (step.last_use[k]) {
        inputs_.push_back(std::move(value));
        value = Tensor();
      } else {
        inputs_.push_back(value);
      }
    }
    outputs_.assign(static_cast<size_t>(step.num_outputs), Tensor());
    Status s;
    if (step.kernel != nullptr) {
      OpKernelContext ctx(&inputs_, &outputs_);
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
      s = step.frame->run(*step.callee->plan, &inputs_, &outputs_);
    }
    if (!s.is_ok()) return annotate(s, body, step.node);
    const auto& types = body.node(step.node).outputs.types;
    for (int k = 0; k < step.num_outputs; ++k) {
      Tensor& out = outputs_[static_cast<size_t>(k)];
      if (out.valid() && types[static_cast<size_t>(k)] != 0 &&
          out.dtype() != types[static_cast<size_t>(k)]) {
        return internal_error(body.where(step.node) + " produced " + dtype_name(out.dtype()) +
                              " for output " + std::to_string(k) + ", declared " +
                              dtype_name(types[static_cast<size_t>(k)]));
      }
      slots_[static_cast<size_t>(step.first_output + k)] = std::move(out);
      out = Tensor();
    }
    for (int slot : step.unread_outputs) slots_[static_cast<size_t>(slot)] = Tensor();
  }
  return Status::ok();
}

void Frame::clear() {
  for (Tensor& t : slots_) t = Tensor();
  inputs_.clear();
  outputs_.clear();
}

Status Frame::run(const Plan& plan, std::vector<Tensor>* feeds, std::vector<Tensor>* fetches) {
  Status s = check_feeds(plan, *feeds);
  if (!s.is_ok()) {
    feeds->clear();
    return s;
  }
  slots_.resize(static_cast<size_t>(plan.num_slots));
  for (size_t i = 0; i < feeds->size(); ++i) {
    slots_[static_cast<size_t>(plan.feed_slots[i])] = std::move((*feeds)[i]);
  }
  feeds->clear();
  s = run_steps(plan);
  fetches->clear();
  for (size_t i = 0; s.is_ok() && i < plan.fetch_slots.size(); ++i) {
    Tensor& value = slots_[static_cast<size_t>(plan.fetch_slots[i])];
    if (!value.valid()) {
      s = internal_error("Fetched value in slot " + std::to_string(plan.fetch_slots[i]) +
                         " was not produced");
    } else if (i < plan.fetch_moves.size() && plan.fetch_moves[i]) {
      fetches->push_back(std::move(value));
      value = Tensor();
    } else {
      fetches->push_back(value);
    }
  }
  // Values left behind (an error midway, values fetched twice) go now, so the
  // fetched ones are the caller's alone and nothing lingers until the next run.
  clear();
  if (!s.is_ok()) fetches->clear();
  return s;
}

Status run_plan(const Plan& plan, std::vector<Tensor> feeds, std::vector<Tensor>* fetches) {
  Frame frame;
  return frame.run(plan, &feeds, fetches);
}

}  // namespace qtf
