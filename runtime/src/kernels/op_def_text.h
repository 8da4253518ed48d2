// Text of the OpDefs shared by whole op families (binary and unary
// elementwise ops), so each op file registers its definition in one line.
#pragma once

#define QTF_BINARY_OP_DEF(name_text)                 \
  "name: \"" name_text "\" "                        \
  "input_arg { name: \"x\" type_attr: \"T\" } "     \
  "input_arg { name: \"y\" type_attr: \"T\" } "     \
  "output_arg { name: \"z\" type_attr: \"T\" } "    \
  "attr { name: \"T\" type: \"type\" }"

// Comparisons: same inputs, bool output.
#define QTF_COMPARE_OP_DEF(name_text)                \
  "name: \"" name_text "\" "                        \
  "input_arg { name: \"x\" type_attr: \"T\" } "     \
  "input_arg { name: \"y\" type_attr: \"T\" } "     \
  "output_arg { name: \"z\" type: DT_BOOL } "       \
  "attr { name: \"T\" type: \"type\" }"

#define QTF_UNARY_OP_DEF(name_text)                  \
  "name: \"" name_text "\" "                        \
  "input_arg { name: \"x\" type_attr: \"T\" } "     \
  "output_arg { name: \"y\" type_attr: \"T\" } "    \
  "attr { name: \"T\" type: \"type\" }"

// Activations read "features" and write "activations".
#define QTF_ACTIVATION_OP_DEF(name_text)                 \
  "name: \"" name_text "\" "                            \
  "input_arg { name: \"features\" type_attr: \"T\" } "  \
  "output_arg { name: \"activations\" type_attr: \"T\" } " \
  "attr { name: \"T\" type: \"type\" }"
