// OpDef text the convolution ops share, as string literals to place after an
// op's own text inside QTF_REGISTER_OP_DEF (adjacent literals concatenate).
// Each literal closes on its own line: a line splice inside a raw string
// would stay in the text.
#pragma once

// The window of every convolution: padding, EXPLICIT pads, layout, dilations.
#define QTF_CONV_WINDOW_ATTRS                                                      \
  R"pb( attr { name: "padding" type: "string")pb"                                  \
  R"pb(        allowed_values { list { s: ["SAME", "VALID", "EXPLICIT"] } } })pb"  \
  R"pb( attr { name: "explicit_paddings" type: "list(int)")pb"                     \
  R"pb(        default_value { list {} } })pb"                                     \
  R"pb( attr { name: "data_format" type: "string" default_value { s: "NHWC" })pb"  \
  R"pb(        allowed_values { list { s: ["NHWC", "NCHW"] } } })pb"               \
  R"pb( attr { name: "dilations" type: "list(int)")pb"                             \
  R"pb(        default_value { list { i: [1, 1, 1, 1] } } })pb"

// The arguments of the input-gradient (transposed) convolutions.
#define QTF_CONV_BACKPROP_INPUT_ARGS                                               \
  R"pb( input_arg { name: "input_sizes" type: DT_INT32 })pb"                       \
  R"pb( input_arg { name: "filter" type_attr: "T" })pb"                            \
  R"pb( input_arg { name: "out_backprop" type_attr: "T" })pb"                      \
  R"pb( output_arg { name: "output" type_attr: "T" })pb"                           \
  R"pb( attr { name: "T" type: "type" })pb"                                        \
  R"pb( attr { name: "strides" type: "list(int)" })pb"

// What the fused forms add: the fused op list and its parameters.
#define QTF_CONV_FUSION_ATTRS                                                      \
  R"pb( attr { name: "fused_ops" type: "list(string)")pb"                          \
  R"pb(        default_value { list {} } })pb"                                     \
  R"pb( attr { name: "epsilon" type: "float" default_value { f: 0.0001 } })pb"     \
  R"pb( attr { name: "leakyrelu_alpha" type: "float" default_value { f: 0.2 } })pb"
