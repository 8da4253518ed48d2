#include "exec/session.h"

#include <cctype>

#include "exec/executor.h"

namespace qtf {
namespace {

std::string plan_key(const std::vector<ValueRef>& feeds, const std::vector<ValueRef>& fetches,
                     const std::vector<int>& targets) {
  std::string key;
  for (const ValueRef& r : feeds) key += std::to_string(r.node) + ":" + std::to_string(r.output) + ",";
  key += '|';
  for (const ValueRef& r : fetches) key += std::to_string(r.node) + ":" + std::to_string(r.output) + ",";
  key += '|';
  for (int t : targets) key += std::to_string(t) + ",";
  return key;
}

}  // namespace

Session::Session(std::shared_ptr<const Graph> graph)
    : graph_(std::move(graph)), runtime_(*graph_) {
  std::unique_ptr<Body> body;
  // Building the outer body only records problems on nodes; it cannot fail.
  (void)Body::from_graph(*graph_, &body);
  outer_ = std::make_unique<BodyInstance>(std::move(body), &runtime_);
}

Session::~Session() {
  // Plans point at kernels owned by the instances; drop them first.
  plans_.clear();
  outer_.reset();
}

Status Session::parse_tensor_name(const std::string& name, ValueRef* out) const {
  std::string node = name;
  int index = 0;
  const size_t colon = name.rfind(':');
  if (colon != std::string::npos) {
    const std::string digits = name.substr(colon + 1);
    bool numeric = !digits.empty() && digits.size() < 10;
    for (char c : digits) numeric = numeric && std::isdigit(static_cast<unsigned char>(c));
    if (!numeric) return invalid_argument("Malformed tensor name '" + name + "'");
    node = name.substr(0, colon);
    index = std::stoi(digits);
  }
  const int found = graph_->find_node(node);
  if (found < 0) return not_found("Tensor '" + name + "' names no node of the graph");
  *out = ValueRef{found, index};
  return Status::ok();
}

Status Session::find_plan(const std::vector<ValueRef>& feeds, const std::vector<ValueRef>& fetches,
                          const std::vector<int>& targets, const Plan** plan) {
  const std::string key = plan_key(feeds, fetches, targets);
  auto it = plans_.find(key);
  if (it == plans_.end()) {
    std::unique_ptr<Plan> made;
    QTF_RETURN_IF_ERROR(outer_->make_plan(feeds, fetches, targets, &made));
    it = plans_.emplace(key, std::move(made)).first;
  }
  *plan = it->second.get();
  return Status::ok();
}

Status Session::prepare(const std::vector<ValueRef>& feeds, const std::vector<ValueRef>& fetches,
                        const std::vector<int>& targets) {
  std::lock_guard<std::mutex> lock(mu_);
  const Plan* plan = nullptr;
  return find_plan(feeds, fetches, targets, &plan);
}

Status Session::run(const std::vector<ValueRef>& feeds, std::vector<Tensor> feed_values,
                    const std::vector<ValueRef>& fetches, const std::vector<int>& targets,
                    std::vector<Tensor>* outputs) {
  std::lock_guard<std::mutex> lock(mu_);
  const Plan* plan = nullptr;
  QTF_RETURN_IF_ERROR(find_plan(feeds, fetches, targets, &plan));
  return run_plan(*plan, std::move(feed_values), outputs);
}

}  // namespace qtf
