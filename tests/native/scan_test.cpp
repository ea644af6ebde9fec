#include "catalogue/scan.h"

#include <gtest/gtest.h>

namespace {

// The rule as it applies to names the file system cannot hold too: the
// walk passes bare names, but callers may pass whole paths.
TEST(ExtensionRule, LastDotWithNoSeparatorAfterIt) {
    EXPECT_EQ(FileExtension("PHOTO.JPG"), ".JPG");
    EXPECT_EQ(FileExtension("a.jpg.txt"), ".txt");
    EXPECT_EQ(FileExtension(".jpg"), ".jpg");
    EXPECT_EQ(FileExtension("name."), ".");
    EXPECT_EQ(FileExtension("jpg"), "");
    EXPECT_EQ(FileExtension("C:\\dir.x\\file"), "");
    EXPECT_EQ(FileExtension("dir.x/file"), "");
    EXPECT_EQ(FileExtension("C.x:stream"), "");
    EXPECT_EQ(FileExtension("C:\\dir.x\\file.png"), ".png");
}

TEST(ExtensionRule, OnlyAsciiLettersAreFolded) {
    const std::vector<std::string> list = {".jpg", ".\xE9t"};
    EXPECT_TRUE(IsPictureName("a.JpG", list));
    EXPECT_TRUE(IsPictureName("a.\xE9T", list));
    EXPECT_FALSE(IsPictureName("a.\xC9T", list));  // Latin-1 capitals stay as they are
    EXPECT_FALSE(IsPictureName("a.jpgx", list));
    EXPECT_FALSE(IsPictureName("a.jp", list));
    EXPECT_FALSE(IsPictureName("jpg", list));
    EXPECT_FALSE(IsPictureName("a.jpg", {}));
}

}  // namespace
