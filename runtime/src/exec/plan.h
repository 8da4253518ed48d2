// Plan: what one run of a body executes — the nodes a set of feeds, fetches
// and targets needs, in dependency order, each with its kernel (or called
// function) and the value slots it reads and writes. Plans are built once per
// signature and reused, so a run only moves tensors and calls kernels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "core/status.h"
#include "exec/body.h"
#include "graph/tensor_proto.h"

namespace qtf {

class FunctionRuntime;
struct FunctionInstance;
class Frame;

struct Step {
  int node = -1;
  OpKernel* kernel = nullptr;                // a plain op
  const FunctionInstance* callee = nullptr;  // a function call
  std::shared_ptr<Frame> frame;              // where the call runs, reused each time
  std::vector<int> inputs;                   // slots read
  std::vector<uint8_t> last_use;             // per input: this read is the slot's last
  int first_output = 0;                      // outputs go to consecutive slots
  int num_outputs = 0;
  std::vector<int> unread_outputs;           // slots nobody reads: dropped at once
};

// What a fed value must match.
struct FeedCheck {
  std::string name;  // "node:index"
  DataType dtype = static_cast<DataType>(0);  // 0 = not known
  PartialShape shape;
};

struct Plan {
  const Body* body = nullptr;
  int num_slots = 0;
  std::vector<int> feed_slots;  // feed i lives in slot feed_slots[i]
  std::vector<FeedCheck> feed_checks;
  std::vector<int> fetch_slots;
  std::vector<uint8_t> fetch_moves;  // per fetch: the last fetch of its slot, so it may move
  std::vector<Step> steps;
  std::vector<std::unique_ptr<OpKernel>> fused_kernels;  // kernels of steps made by fusion
};

// A body with the kernels of its nodes, made when a plan first needs them and
// kept for the life of the session (kernels may cache per-shape state).
class BodyInstance {
 public:
  BodyInstance(std::unique_ptr<Body> body, FunctionRuntime* runtime);
  ~BodyInstance();

  const Body& body() const { return *body_; }
  // Feeds may name any node output; fetches too (a fed value is fetched as fed).
  Status make_plan(const std::vector<ValueRef>& feeds, const std::vector<ValueRef>& fetches,
                   const std::vector<int>& targets, std::unique_ptr<Plan>* out);

 private:
  Status prepare(int node);
  Status order_nodes(const std::vector<ValueRef>& feeds, const std::vector<ValueRef>& fetches,
                     const std::vector<int>& targets, std::vector<int>* order) const;

  std::unique_ptr<Body> body_;
  FunctionRuntime* runtime_;
  std::vector<std::unique_ptr<OpKernel>> kernels_;
  std::vector<const FunctionInstance*> callees_;
  std::vector<uint8_t> prepared_;
};

// One instantiated function: its body and the plan that computes its results
// (and runs its control results) from its arguments.
struct FunctionInstance {
  std::unique_ptr<BodyInstance> instance;
  std::unique_ptr<Plan> plan;
  std::vector<DataType> arg_types;
};

}  // namespace qtf
