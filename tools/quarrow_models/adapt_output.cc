#include "adapt_output.h"

namespace quarrow::models {

namespace {

const std::vector<int64_t>& image_shape() {
  static const std::vector<int64_t> shape = network_input_shape();
  return shape;
}

// A known dimension must be `want`; -1 takes anything.
bool fits(int64_t dim, int64_t want) { return dim < 0 || dim == want; }

bool fits_all(const std::vector<int64_t>& shape, const std::vector<int64_t>& want) {
  if (shape.size() != want.size()) return false;
  for (size_t k = 0; k < shape.size(); ++k) {
    if (!fits(shape[k], want[k])) return false;
  }
  return true;
}

std::vector<int64_t> nchw_of(const std::vector<int64_t>& nhwc) { return {nhwc[0], nhwc[3], nhwc[1], nhwc[2]}; }

const char* score_name(ScoreChoice::Kind kind) {
  switch (kind) {
    case ScoreChoice::kSoftmax: return "softmax";
    case ScoreChoice::kSigmoid: return "sigmoid";
    case ScoreChoice::kIdentity: return "identity";
    default: return "";
  }
}

}  // namespace

bool parse_score(const std::string& text, ScoreChoice* out, std::string* error) {
  const size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  *out = ScoreChoice{};
  if (kind == "softmax") out->kind = ScoreChoice::kSoftmax;
  else if (kind == "sigmoid") out->kind = ScoreChoice::kSigmoid;
  else if (kind == "identity") out->kind = ScoreChoice::kIdentity;
  else {
    *error = "--score must be softmax:CLASS, sigmoid[:CLASS] or identity[:CLASS], not '" + text + "'";
    return false;
  }
  if (colon != std::string::npos) {
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) {
      *error = "--score " + kind + ": CLASS must be a channel number, not '" + digits + "'";
      return false;
    }
    out->channel = std::stoi(digits);
  } else if (out->kind == ScoreChoice::kSoftmax) {
    *error = "--score softmax needs the class: softmax:CLASS";
    return false;
  }
  return true;
}

bool choose_input_layout(const std::vector<int64_t>& shape, bool known_rank, const std::string& requested,
                         Layout* out, std::string* error) {
  const bool nhwc = !known_rank || fits_all(shape, image_shape());
  const bool nchw = !known_rank || fits_all(shape, nchw_of(image_shape()));
  const std::string got = known_rank ? dims_text(shape) : "<unknown rank>";
  if (requested == "nchw" || requested == "nhwc") {
    const bool want_nchw = requested == "nchw";
    if (!(want_nchw ? nchw : nhwc)) {
      *error = "the source input " + got + " cannot take " + (want_nchw ? "NCHW " : "NHWC ") +
               dims_text(want_nchw ? nchw_of(image_shape()) : image_shape());
      return false;
    }
    *out = want_nchw ? Layout::kNchw : Layout::kNhwc;
    return true;
  }
  if (!nhwc && !nchw) {
    *error = "the source input " + got + " takes neither " + dims_text(image_shape()) + " (NHWC) nor " +
             dims_text(nchw_of(image_shape())) + " (NCHW): quarrow feeds " +
             std::to_string(image_shape()[1]) + "x" + std::to_string(image_shape()[2]) + " RGB images";
    return false;
  }
  *out = nhwc ? Layout::kNhwc : Layout::kNchw;
  return true;
}

bool plan_output(const ModelRole& role, const std::vector<int64_t>& shape, bool known_rank,
                 const ScoreChoice& score, OutputPlan* out, std::string* error) {
  *out = OutputPlan{};
  out->score = score;
  const int64_t rows = image_shape()[1], cols = image_shape()[2];
  const std::string got = dims_text(shape);
  if (!known_rank) {
    out->needs_real_shape = true;
    return true;
  }
  out->rank = static_cast<int>(shape.size());
  bool nhwc = false, nchw = false;
  if (shape.size() == 4) {
    nhwc = fits(shape[0], 1) && fits(shape[1], rows) && fits(shape[2], cols);
    nchw = fits(shape[0], 1) && fits(shape[2], rows) && fits(shape[3], cols);
  } else if (shape.size() == 3 || shape.size() == 2) {
    const size_t r = shape.size() - 2;
    if (!(shape.size() == 2 || fits(shape[0], 1)) || !fits(shape[r], rows) || !fits(shape[r + 1], cols)) {
      *error = "the source output " + got + " is not a " + std::to_string(rows) + "x" + std::to_string(cols) + " map";
      return false;
    }
    nhwc = true;  // no channel axis: one value per pixel
  }
  if (!nhwc && !nchw) {
    *error = "the source output " + got + " is not a " + std::to_string(rows) + "x" + std::to_string(cols) +
             " map in NHWC or NCHW";
    return false;
  }
  if (nhwc && nchw) {
    // Unknown dimensions leave both layouts open; the real shape decides.
    out->needs_real_shape = true;
    return true;
  }
  out->nchw = nchw;
  out->channels = shape.size() == 4 ? (nchw ? shape[1] : shape[3]) : 1;
  if (out->channels < 0) {
    out->needs_real_shape = true;
    return true;
  }
  out->description = std::string(shape.size() < 4 ? "" : nchw ? "NCHW " : "NHWC ") + got;

  const int channel = score.channel;
  if (role.depth) {
    if (score.kind != ScoreChoice::kDefault && score.kind != ScoreChoice::kIdentity) {
      *error = std::string("--score ") + score_name(score.kind) + " is for the segmentation roles; " + role.name +
               " passes depths through";
      return false;
    }
    if (out->channels != 1 && channel < 0) {
      *error = "the source output " + got + " has " + std::to_string(out->channels) +
               " channels; choose the depth channel with --score identity:CHANNEL";
      return false;
    }
  } else if (out->channels > 1 && channel < 0) {
    *error = "the source output " + got + " has " + std::to_string(out->channels) +
             " channels; choose the class with --score softmax:CLASS, sigmoid:CLASS or identity:CLASS";
    return false;
  } else if (score.kind == ScoreChoice::kSoftmax && out->channels < 2) {
    *error = "--score softmax needs at least two channels; the source output " + got + " has one";
    return false;
  }
  if (channel >= out->channels) {
    *error = "channel " + std::to_string(channel) + " is not in the source output " + got + " (" +
             std::to_string(out->channels) + " channels)";
    return false;
  }
  if (score.kind == ScoreChoice::kSoftmax) out->description += ", softmax";
  if (out->channels > 1) out->description += ", channel " + std::to_string(channel);
  if (score.kind == ScoreChoice::kSigmoid) out->description += ", sigmoid";
  return true;
}

qsm::Output build_output(qsm::ModelBuilder& b, qsm::Output y, const ModelRole& role, const OutputPlan& plan) {
  const bool several = plan.channels > 1;
  if (plan.rank == 4 && plan.nchw && several) {
    // Softmax and the channel slice work on the last axis.
    y = b.op("Transpose", {y, b.constant_ints({0, 2, 3, 1})}, {}, "adapt/to_nhwc");
  }
  if (plan.score.kind == ScoreChoice::kSoftmax) y = b.op("Softmax", {y}, {}, "adapt/softmax");
  if (several) {
    const int c = plan.score.channel;
    y = b.op("Slice", {y, b.constant_ints({0, 0, 0, c}), b.constant_ints({-1, -1, -1, 1})}, {}, "adapt/channel");
  }
  if (plan.score.kind == ScoreChoice::kSigmoid) y = b.op("Sigmoid", {y}, {}, "adapt/sigmoid");
  const bool nhwc_now = plan.rank == 4 && (!plan.nchw || several);
  if (role.depth && nhwc_now) {
    return b.op("Transpose", {y, b.constant_ints({0, 3, 1, 2})}, {}, "adapt/to_nchw");
  }
  if (!role.depth && nhwc_now) return y;
  if (role.depth && plan.rank == 4) return y;  // NCHW, one channel
  // No channel axis, or one channel on axis 1 for a score: same elements, the role's shape.
  std::vector<int32_t> target;
  for (int64_t d : role.output_shape) target.push_back(static_cast<int32_t>(d));
  return b.op("Reshape", {y, b.constant_ints(target)}, {}, "adapt/shape");
}

}  // namespace quarrow::models
