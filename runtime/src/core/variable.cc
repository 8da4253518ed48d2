#include "core/variable.h"

namespace qtf {
namespace {
thread_local ResourceManager* current_resources = nullptr;
}  // namespace

std::shared_ptr<Variable> ResourceManager::variable(const std::string& container,
                                                    const std::string& shared_name, DataType dtype) {
  auto& slot = variables_[{container, shared_name}];
  if (!slot) {
    slot = std::make_shared<Variable>();
    slot->name = container.empty() ? shared_name : container + "/" + shared_name;
    slot->dtype = dtype;
  }
  return slot;
}

ResourceScope::ResourceScope(ResourceManager* resources) : previous_(current_resources) {
  current_resources = resources;
}

ResourceScope::~ResourceScope() { current_resources = previous_; }

ResourceManager* ResourceScope::current() { return current_resources; }

}  // namespace qtf
