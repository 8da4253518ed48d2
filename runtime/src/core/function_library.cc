#include "core/function_library.h"

namespace qtf {
namespace {
thread_local FunctionLibrary* current_library = nullptr;
}  // namespace

FunctionLibraryScope::FunctionLibraryScope(FunctionLibrary* library) : previous_(current_library) {
  current_library = library;
}

FunctionLibraryScope::~FunctionLibraryScope() { current_library = previous_; }

FunctionLibrary* FunctionLibraryScope::current() { return current_library; }

}  // namespace qtf
