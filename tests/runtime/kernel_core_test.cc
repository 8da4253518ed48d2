// Tensor storage, node attribute access and the two registries.
#include <gtest/gtest.h>

#include <cstdint>

#include "kernel_testing.h"

namespace qtf {
namespace {

TEST(TensorTest, DtypeFacts) {
  struct Case { DataType t; size_t size; const char* name; };
  const Case cases[] = {
      {TF_FLOAT, 4, "float"}, {TF_DOUBLE, 8, "double"}, {TF_INT32, 4, "int32"},
      {TF_UINT8, 1, "uint8"}, {TF_INT64, 8, "int64"},   {TF_BOOL, 1, "bool"},
      {TF_HALF, 2, "half"},   {TF_STRING, 0, "string"}, {TF_RESOURCE, 0, "resource"},
      {TF_INT16, 2, "int16"}, {TF_COMPLEX128, 16, "complex128"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dtype_size(c.t), c.size) << c.name;
    EXPECT_STREQ(dtype_name(c.t), c.name);
  }
}

TEST(TensorTest, ShapeHelpers) {
  EXPECT_EQ(shape_string({1, 256, 512, 3}), "[1,256,512,3]");
  EXPECT_EQ(shape_string({}), "[]");
  EXPECT_EQ(num_elements({}), 1);
  EXPECT_EQ(num_elements({2, 0, 3}), 0);
  EXPECT_EQ(num_elements({2, 3, 4}), 24);
  EXPECT_EQ(num_elements({2, -1}), -1);
}

TEST(TensorTest, AllocateIsAlignedAndSized) {
  for (Shape s : {Shape{3}, Shape{1, 7, 5}, Shape{0}, Shape{}}) {
    Tensor t = Tensor::allocate(TF_FLOAT, s);
    ASSERT_TRUE(t.valid());
    EXPECT_NE(t.raw(), nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t.raw()) % 64, 0u);
    EXPECT_EQ(t.byte_size(), static_cast<size_t>(num_elements(s)) * 4);
    EXPECT_EQ(t.shape(), s);
  }
}

TEST(TensorTest, SoleOwnershipFollowsCopies) {
  Tensor t = Tensor::allocate(TF_INT32, {4});
  EXPECT_TRUE(t.is_sole_owner());
  {
    Tensor copy = t;
    EXPECT_FALSE(t.is_sole_owner());
    EXPECT_EQ(copy.raw(), t.raw());
  }
  EXPECT_TRUE(t.is_sole_owner());
  Tensor view = t.reshaped({2, 2});
  EXPECT_EQ(view.raw(), t.raw());
  EXPECT_EQ(view.shape(), (Shape{2, 2}));
  EXPECT_FALSE(t.is_sole_owner());
}

TEST(TensorTest, ReshapeToOtherCountIsInvalid) {
  Tensor t = Tensor::allocate(TF_FLOAT, {2, 3});
  EXPECT_FALSE(t.reshaped({4}).valid());
  EXPECT_TRUE(t.reshaped({3, 2}).valid());
}

TEST(TensorTest, BorrowedBufferIsReleasedOnceAndNeverWrittenInPlace) {
  float buffer[6] = {};
  int released = 0;
  {
    Tensor t = Tensor::borrow(TF_FLOAT, {2, 3}, buffer, sizeof buffer, [&] { ++released; });
    EXPECT_EQ(t.data<float>(), buffer);
    EXPECT_FALSE(t.is_sole_owner());
    Tensor copy = t;
    EXPECT_EQ(released, 0);
  }
  EXPECT_EQ(released, 1);
}

TEST(TensorTest, StringsAndAllocatedStrings) {
  Tensor s = Tensor::strings({2}, {"a", "bc"});
  EXPECT_EQ(s.dtype(), TF_STRING);
  ASSERT_EQ(s.string_values().size(), 2u);
  EXPECT_EQ(s.string_values()[1], "bc");
  EXPECT_TRUE(s.is_sole_owner());
  Tensor e = Tensor::allocate(TF_STRING, {3});
  EXPECT_EQ(e.string_values().size(), 3u);
}

TEST(TensorTest, ResourceIsScalar) {
  Tensor r = Tensor::resource(nullptr);
  EXPECT_EQ(r.dtype(), TF_RESOURCE);
  EXPECT_EQ(r.rank(), 0);
}

class NodeAttrsTest : public ::testing::Test {
 protected:
  NodeAttrsTest() {
    attrs_["k"].set_i(3);
    attrs_["f"].set_f(0.5f);
    attrs_["b"].set_b(true);
    attrs_["s"].set_s("SAME");
    attrs_["t"].set_type(tensorflow::DT_INT64);
    attrs_["l"] = testing::int_list({1, 2, 2, 1});
    attrs_["tl"].mutable_list()->add_type(tensorflow::DT_FLOAT);
  }
  google::protobuf::Map<std::string, tensorflow::AttrValue> attrs_;
};

TEST_F(NodeAttrsTest, GettersReadEachKind) {
  NodeAttrs a("net/conv", "Conv2D", attrs_);
  int64_t i = 0;
  float f = 0;
  bool b = false;
  std::string s;
  DataType t = TF_FLOAT;
  std::vector<int64_t> l;
  std::vector<DataType> tl;
  ASSERT_TRUE(a.get_int("k", &i).is_ok());
  ASSERT_TRUE(a.get_float("f", &f).is_ok());
  ASSERT_TRUE(a.get_bool("b", &b).is_ok());
  ASSERT_TRUE(a.get_string("s", &s).is_ok());
  ASSERT_TRUE(a.get_type("t", &t).is_ok());
  ASSERT_TRUE(a.get_int_list("l", &l).is_ok());
  ASSERT_TRUE(a.get_type_list("tl", &tl).is_ok());
  EXPECT_EQ(i, 3);
  EXPECT_EQ(f, 0.5f);
  EXPECT_TRUE(b);
  EXPECT_EQ(s, "SAME");
  EXPECT_EQ(t, TF_INT64);
  EXPECT_EQ(l, (std::vector<int64_t>{1, 2, 2, 1}));
  EXPECT_EQ(tl, (std::vector<DataType>{TF_FLOAT}));
}

TEST_F(NodeAttrsTest, ErrorsNameNodeOpAndAttr) {
  NodeAttrs a("net/conv", "Conv2D", attrs_);
  int64_t i = 0;
  Status missing = a.get_int("strides", &i);
  EXPECT_EQ(missing.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(missing.message().find("Conv2D node 'net/conv'"), std::string::npos);
  EXPECT_NE(missing.message().find("'strides'"), std::string::npos);
  Status wrong = a.get_int("s", &i);
  EXPECT_EQ(wrong.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(wrong.message().find("'s'"), std::string::npos);
  std::vector<int64_t> l;
  EXPECT_EQ(a.get_int_list("k", &l).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(a.where(), "Conv2D node 'net/conv': ");
}

TEST_F(NodeAttrsTest, FallbacksApplyWhenMissingOrOfOtherKind) {
  NodeAttrs a("n", "Op", attrs_);
  EXPECT_EQ(a.int_or("k", 9), 3);
  EXPECT_EQ(a.int_or("absent", 9), 9);
  EXPECT_EQ(a.int_or("s", 9), 9);
  EXPECT_EQ(a.float_or("f", 2.f), 0.5f);
  EXPECT_EQ(a.float_or("absent", 2.f), 2.f);
  EXPECT_TRUE(a.bool_or("b", false));
  EXPECT_FALSE(a.bool_or("absent", false));
  EXPECT_EQ(a.string_or("s", "VALID"), "SAME");
  EXPECT_EQ(a.string_or("k", "VALID"), "VALID");
}

TEST(OpKernelContextTest, AllocateOutputStoresTensor) {
  std::vector<Tensor> inputs;
  std::vector<Tensor> outputs(2);
  OpKernelContext ctx(inputs, &outputs);
  Tensor& t = ctx.allocate_output(1, TF_INT32, {2});
  t.data<int32_t>()[0] = 7;
  EXPECT_FALSE(outputs[0].valid());
  ASSERT_TRUE(outputs[1].valid());
  EXPECT_EQ(outputs[1].data<int32_t>()[0], 7);
}

TEST(RegistryTest, EveryKernelHasAnOpDefWithNamedOutputs) {
  const std::vector<std::string> ops = KernelRegistry::global().ops();
  ASSERT_FALSE(ops.empty());
  for (const std::string& op : ops) {
    const tensorflow::OpDef* def = OpDefRegistry::global().find(op);
    ASSERT_NE(def, nullptr) << op;
    EXPECT_EQ(def->name(), op);
    for (const auto& arg : def->output_arg()) EXPECT_FALSE(arg.name().empty()) << op;
  }
}

TEST(RegistryTest, UnknownOpsAreAbsent) {
  EXPECT_EQ(KernelRegistry::global().find("NoSuchOp"), nullptr);
  EXPECT_EQ(OpDefRegistry::global().find("NoSuchOp"), nullptr);
}

TEST(RegistryDeathTest, MalformedOpDefAbortsAtRegistration) {
  EXPECT_DEATH(OpDefRegistry::global().add_text("name: \"Bad\" input_arg { nme: \"x\" }"),
               "cannot parse");
}

TEST(RegistryDeathTest, DuplicateKernelAborts) {
  EXPECT_DEATH(KernelRegistry::global().add("AddV2", KernelRegistry::global().find("AddV2")),
               "registered twice");
}

}  // namespace
}  // namespace qtf
