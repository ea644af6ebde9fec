#include "imaging/extension.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The plug-in host matches keys against the plug-ins' own extensions, and
// the catalogue lists pictures by the same rule (tests/native/scan_test.cpp
// covers bare names). A wrong key hands a file to the wrong decoder or to
// none.

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

}  // namespace
