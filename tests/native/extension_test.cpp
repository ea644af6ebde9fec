#include "imaging/extension.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The plug-in host matches keys against the plug-ins' own extensions, and
// the catalogue lists pictures by the same rule. A wrong key hands a file to
// the wrong decoder or to none.

TEST(ExtensionKeys, FoldAsciiCapitalsOnlyAndIgnoreDotsOfFolders) {
    EXPECT_EQ(ExtensionKey("C:\\Fotos\\IMG_1.JpEg"), ".jpeg");
    EXPECT_EQ(ExtensionKey(".DLL"), ".dll");  // an extension is its own key
    EXPECT_EQ(ExtensionKey("a.\xC9T"), ".\xC9t");
    EXPECT_EQ(ExtensionKey("C:\\dir.X\\file"), "");
    EXPECT_EQ(ExtensionKey("noextension"), "");
}

TEST(ExtensionKeys, WholePathsMatchByTheirFileNameOnly) {
    const std::vector<std::string> list = {".jpg"};
    EXPECT_TRUE(HasListedExtension("C:\\x.y\\a.JPG", list));
    EXPECT_FALSE(HasListedExtension("C:\\p.jpg\\file", list));
    // An empty extension never matches, not even an empty entry.
    EXPECT_FALSE(HasListedExtension("noext", {""}));
}

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
