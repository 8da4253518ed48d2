// Einsum equation parsing.
#include "kernels/einsum_equation.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace qtf {
namespace {

Status parse_term(const std::string& where, const std::string& equation, const std::string& text,
                  EinsumTerm* term) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      if (text.compare(i, 3, "...") != 0 || term->ellipsis_at >= 0) {
        return invalid_argument(where + "malformed ellipsis in einsum equation '" + equation + "'");
      }
      term->ellipsis_at = static_cast<int>(term->labels.size());
      i += 2;
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      term->labels.push_back(static_cast<unsigned char>(c));
    } else {
      return invalid_argument(where + "unexpected '" + std::string(1, c) +
                              "' in einsum equation '" + equation + "'");
    }
  }
  return Status::ok();
}

bool has_repeats(const std::vector<int>& labels) {
  std::vector<int> sorted = labels;
  std::sort(sorted.begin(), sorted.end());
  return std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
}

}  // namespace

Status parse_einsum(const std::string& where, const std::string& equation, int num_inputs,
                    EinsumEquation* out) {
  std::string text;
  for (char c : equation) {
    if (c != ' ') text += c;
  }
  const size_t arrow = text.find("->");
  const std::string lhs = text.substr(0, arrow);
  std::vector<std::string> operands;
  size_t start = 0;
  for (size_t comma; (comma = lhs.find(',', start)) != std::string::npos; start = comma + 1) {
    operands.push_back(lhs.substr(start, comma - start));
  }
  operands.push_back(lhs.substr(start));
  if (static_cast<int>(operands.size()) != num_inputs) {
    return invalid_argument(where + "einsum equation '" + equation + "' has " +
                            std::to_string(operands.size()) + " operands for " +
                            std::to_string(num_inputs) + " inputs");
  }
  if (num_inputs > 2) {
    return unimplemented(where + "einsum equation '" + equation +
                         "' has more than two operands");
  }
  out->inputs.assign(operands.size(), EinsumTerm());
  std::map<int, int> counts;
  bool any_ellipsis = false;
  for (size_t i = 0; i < operands.size(); ++i) {
    QTF_RETURN_IF_ERROR(parse_term(where, equation, operands[i], &out->inputs[i]));
    if (has_repeats(out->inputs[i].labels)) {
      return unimplemented(where + "einsum equation '" + equation +
                           "' repeats a label inside one operand (diagonals are not supported)");
    }
    for (int l : out->inputs[i].labels) ++counts[l];
    any_ellipsis = any_ellipsis || out->inputs[i].ellipsis_at >= 0;
  }
  out->output = EinsumTerm();
  if (arrow == std::string::npos) {
    // Implicit form: the ellipsis, then the labels used once, alphabetically.
    if (any_ellipsis) out->output.ellipsis_at = 0;
    for (const auto& [label, count] : counts) {
      if (count == 1) out->output.labels.push_back(label);
    }
    return Status::ok();
  }
  QTF_RETURN_IF_ERROR(parse_term(where, equation, text.substr(arrow + 2), &out->output));
  if (has_repeats(out->output.labels)) {
    return invalid_argument(where + "einsum equation '" + equation + "' repeats an output label");
  }
  for (int l : out->output.labels) {
    if (counts.count(l) == 0) {
      return invalid_argument(where + "output label '" + std::string(1, static_cast<char>(l)) +
                              "' of einsum equation '" + equation + "' is in no operand");
    }
  }
  if (out->output.ellipsis_at >= 0 && !any_ellipsis) {
    return invalid_argument(where + "einsum equation '" + equation +
                            "' has an output ellipsis but no operand ellipsis");
  }
  return Status::ok();
}

Status expand_einsum(const std::string& where, const std::string& equation,
                     const EinsumEquation& eq, const std::vector<int>& ranks,
                     std::vector<std::vector<int>>* inputs, std::vector<int>* output) {
  std::vector<int> ellipsis_rank(eq.inputs.size(), 0);
  int widest = 0;
  for (size_t i = 0; i < eq.inputs.size(); ++i) {
    const EinsumTerm& t = eq.inputs[i];
    const int named = static_cast<int>(t.labels.size());
    if (ranks[i] < named || (t.ellipsis_at < 0 && ranks[i] != named)) {
      return invalid_argument(where + "operand " + std::to_string(i) + " of rank " +
                              std::to_string(ranks[i]) + " does not fit einsum equation '" +
                              equation + "'");
    }
    ellipsis_rank[i] = ranks[i] - named;
    widest = std::max(widest, ellipsis_rank[i]);
  }
  const auto expand = [&](const EinsumTerm& t, int rank) {
    std::vector<int> labels;
    for (size_t j = 0; j <= t.labels.size(); ++j) {
      if (static_cast<int>(j) == t.ellipsis_at) {
        for (int e = widest - rank; e < widest; ++e) labels.push_back(kEllipsisLabel + e);
      }
      if (j < t.labels.size()) labels.push_back(t.labels[j]);
    }
    return labels;
  };
  inputs->clear();
  for (size_t i = 0; i < eq.inputs.size(); ++i) {
    inputs->push_back(expand(eq.inputs[i], ellipsis_rank[i]));
  }
  *output = expand(eq.output, widest);
  return Status::ok();
}

}  // namespace qtf
