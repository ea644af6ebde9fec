#include "imaging/extension.h"

#include <gtest/gtest.h>

namespace {

// The rule as it applies to names the file system cannot hold too: the
// walk passes bare names, but callers may pass whole paths.
TEST(ExtensionRule, LastDotWithNoSeparatorAfterIt) {
    EXPECT_EQ(NameExtension("PHOTO.JPG"), ".JPG");
    EXPECT_EQ(NameExtension("a.jpg.txt"), ".txt");
    EXPECT_EQ(NameExtension(".jpg"), ".jpg");
    EXPECT_EQ(NameExtension("name."), ".");
    EXPECT_EQ(NameExtension("jpg"), "");
    EXPECT_EQ(NameExtension("C:\\dir.x\\file"), "");
    EXPECT_EQ(NameExtension("dir.x/file"), "");
    EXPECT_EQ(NameExtension("C.x:stream"), "");
    EXPECT_EQ(NameExtension("C:\\dir.x\\file.png"), ".png");
}

TEST(ExtensionRule, OnlyAsciiLettersAreFolded) {
    const std::vector<std::string> list = {".jpg", ".\xE9t"};
    EXPECT_TRUE(HasListedExtension("a.JpG", list));
    EXPECT_TRUE(HasListedExtension("a.\xE9T", list));
    EXPECT_FALSE(HasListedExtension("a.\xC9T", list));  // Latin-1 capitals stay as they are
    EXPECT_FALSE(HasListedExtension("a.jpgx", list));
    EXPECT_FALSE(HasListedExtension("a.jp", list));
    EXPECT_FALSE(HasListedExtension("jpg", list));
    EXPECT_FALSE(HasListedExtension("a.jpg", {}));
}

}  // namespace
