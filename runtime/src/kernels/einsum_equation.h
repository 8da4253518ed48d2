// Einsum equations ("bhqd,bhkd->bhqk", "...ij,...jk->...ik"): parsing at
// prepare time, and for given operand ranks the labels of every axis with
// the ellipsis expanded.
#pragma once

#include <string>
#include <vector>

#include "core/status.h"

namespace qtf {

// One side of the equation: letter labels, with the ellipsis (if any)
// standing before labels[ellipsis_at].
struct EinsumTerm {
  std::vector<int> labels;
  int ellipsis_at = -1;
};

struct EinsumEquation {
  std::vector<EinsumTerm> inputs;
  EinsumTerm output;
};

// Labels that the ellipsis axes get: kEllipsisLabel + j for the j-th of the
// broadcast ellipsis axes (aligned to the right, as NumPy broadcasts).
constexpr int kEllipsisLabel = 256;

// Accepts one or two operands of letters and at most one "..." each, and an
// explicit ("->") or implicit output. A label repeated inside one operand
// (a diagonal) is refused as UNIMPLEMENTED; malformed equations are
// INVALID_ARGUMENT. Messages start with `where` and quote the equation.
Status parse_einsum(const std::string& where, const std::string& equation, int num_inputs,
                    EinsumEquation* out);

// The label of every axis of each operand (ranks[i] axes) and of the
// output; fails when a rank does not fit its term.
Status expand_einsum(const std::string& where, const std::string& equation,
                     const EinsumEquation& eq, const std::vector<int>& ranks,
                     std::vector<std::vector<int>>* inputs, std::vector<int>* output);

}  // namespace qtf
