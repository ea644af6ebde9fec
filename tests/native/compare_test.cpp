#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/compare.h"

namespace {

TEST(CatalogueCompare, FoldsAsciiAndLatin1Capitals) {
    EXPECT_EQ(CatalogueCompare("PHOTO.JPG", "photo.jpg"), 0);
    for (int c = 0xC0; c <= 0xDE; ++c) {
        SCOPED_TRACE(c);
        const std::string upper(1, static_cast<char>(c));
        const std::string lower(1, static_cast<char>(c + 0x20));
        if (c == 0xD7)  // the multiplication sign has no small form: 0xD7 < 0xF7
            EXPECT_LT(CatalogueCompare(upper, lower), 0);
        else
            EXPECT_EQ(CatalogueCompare(upper, lower), 0);
    }
}

TEST(CatalogueCompare, BytesAboveTheCapitalsAreNotFolded) {
    // 0xDF (sharp s) and 0xFF map to themselves; 0xF7 is not 0xD7.
    EXPECT_NE(CatalogueCompare("\xDF", "\xFF"), 0);
    EXPECT_GT(CatalogueCompare("\xDE", "\xDF"), 0);  // 0xDE folds to 0xFE, which is above 0xDF
    EXPECT_GT(CatalogueCompare("\xFE", "\xDF"), 0);
    EXPECT_EQ(CatalogueCompare("\xDE", "\xFE"), 0);
    // Bytes compare unsigned: a high byte sorts after ASCII.
    EXPECT_GT(CatalogueCompare("\xE9", "z"), 0);
}

TEST(CatalogueCompare, PrefixesAndEmptyStrings) {
    EXPECT_LT(CatalogueCompare("abc", "abcd"), 0);
    EXPECT_GT(CatalogueCompare("ABCD", "abc"), 0);
    EXPECT_EQ(CatalogueCompare("", ""), 0);
    EXPECT_LT(CatalogueCompare("", "a"), 0);
    // Embedded NUL bytes are ordinary bytes.
    EXPECT_LT(CatalogueCompare(std::string("a\0b", 3), std::string("a\0c", 3)), 0);
}

TEST(CatalogueCompare, SortsFullPathsAsTheWalkExpects) {
    std::vector<std::string> paths = {"C:\\P\\Sub\\a.jpg", "C:\\P\\B.jpg", "C:\\P\\b.jpg2", "C:\\P\\a.jpg"};
    std::sort(paths.begin(), paths.end(), CatalogueLess);
    const std::vector<std::string> expected = {"C:\\P\\a.jpg", "C:\\P\\B.jpg", "C:\\P\\b.jpg2",
                                               "C:\\P\\Sub\\a.jpg"};
    EXPECT_EQ(paths, expected);
    // Capitals fold to 0x61-0x7A, so '_' (0x5F) sorts before letters of either case.
    EXPECT_LT(CatalogueCompare("_", "a"), 0);
    EXPECT_LT(CatalogueCompare("_", "A"), 0);
}

}  // namespace
