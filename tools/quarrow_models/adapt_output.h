// How `quarrow-models adapt` brings a network's input and output to the
// contract of a role: which layout the source's input takes, and the ops that
// turn the source's output (NCHW or NHWC, logits or scores, one channel or
// several) into the role's exact output. Decisions only look at shapes, so
// they can be checked without any model; each refusal says why in one line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model_roles.h"
#include "savedmodel_writer.h"

namespace quarrow::models {

// --score: softmax:CLASS, sigmoid[:CLASS] or identity[:CLASS].
struct ScoreChoice {
  enum Kind { kDefault, kIdentity, kSigmoid, kSoftmax };
  Kind kind = kDefault;
  int channel = -1;  // -1 = not given
};
bool parse_score(const std::string& text, ScoreChoice* out, std::string* error);

enum class Layout { kNhwc, kNchw };

// The layout in which the source input (`shape`, -1 = unknown dimension;
// `known_rank` false when nothing is known) takes quarrow's [1,rows,cols,3]
// image: `requested` ("nhwc", "nchw") if it fits, else the one that fits,
// NHWC first.
bool choose_input_layout(const std::vector<int64_t>& shape, bool known_rank, const std::string& requested,
                         Layout* out, std::string* error);

// What the source output needs. A shape that cannot be decided from the
// signature alone (unknown rank or dimensions) sets `needs_real_shape`.
struct OutputPlan {
  bool needs_real_shape = false;
  bool nchw = false;  // channel axis 1 (else last, or none for rank 2 and 3)
  int rank = 0;
  int64_t channels = 1;
  ScoreChoice score;
  std::string description;  // e.g. "NCHW [1,2,256,512], softmax, channel 1"
};
bool plan_output(const ModelRole& role, const std::vector<int64_t>& shape, bool known_rank,
                 const ScoreChoice& score, OutputPlan* out, std::string* error);

// Adds the ops of `plan` after `value` (the source output, float); returns the
// role's output.
qsm::Output build_output(qsm::ModelBuilder& b, qsm::Output value, const ModelRole& role, const OutputPlan& plan);

}  // namespace quarrow::models
