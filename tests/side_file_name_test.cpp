// The side file's name only ever changes the last path component.
#include "format/side_file_name.hpp"

#include <gtest/gtest.h>

namespace quenpix {
namespace {

TEST(SideFileName, ReplacesTheExtensionOfTheLastComponentOnly) {
    EXPECT_EQ(SideFileName("out.lsg"), "out.pls");
    EXPECT_EQ(SideFileName("out"), "out.pls");
    EXPECT_EQ(SideFileName("x."), "x.pls");
    EXPECT_EQ(SideFileName("pics.old/photo"), "pics.old/photo.pls");
    EXPECT_EQ(SideFileName("a.b/out.lsg"), "a.b/out.pls");
    EXPECT_EQ(SideFileName("/tmp/a.b.c"), "/tmp/a.b.pls");
    EXPECT_EQ(SideFileName("dir/"), "dir/.pls");
}

}  // namespace
}  // namespace quenpix
