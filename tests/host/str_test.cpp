#include "postprocessor/host/str.h"

#include <gtest/gtest.h>

namespace qorv::str {
namespace {

TEST(StrTest, PathParts) {
  EXPECT_EQ(dirname("out/run.log"), "out");
  EXPECT_EQ(dirname("run.log"), ".");
  EXPECT_EQ(dirname("/run.log"), "/");
  EXPECT_EQ(dirname("a/b/"), "a");
  EXPECT_EQ(dirname("a//b"), "a");
  EXPECT_EQ(basename("out/run.log"), "run.log");
  EXPECT_EQ(basename("a/b/"), "b");
  EXPECT_EQ(remove_path("a/b/"), "");
}

}  // namespace
}  // namespace qorv::str
