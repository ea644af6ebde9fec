#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "config/layout.h"

namespace {

using namespace std::string_literals;

TEST(DialogScaling, TiesGoToEven) {
    // 120 DPI: 12.5 -> 12, 728.75 -> 729, 493.75 -> 494.
    EXPECT_EQ(ScaleToDpi(10, 120), 12);
    EXPECT_EQ(ScaleToDpi(583, 120), 729);
    EXPECT_EQ(ScaleToDpi(395, 120), 494);
    // 144 DPI: 874.5 -> 874, 592.5 -> 592, and 1.5 -> 2 the other way.
    EXPECT_EQ(ScaleToDpi(583, 144), 874);
    EXPECT_EQ(ScaleToDpi(395, 144), 592);
    EXPECT_EQ(ScaleToDpi(1, 144), 2);
    EXPECT_EQ(ScaleToDpi(3, 144), 4);  // 4.5 -> 4
    EXPECT_EQ(ScaleToDpi(5, 144), 8);  // 7.5 -> 8
    for (int v : {0, 1, 10, 75, 583, 609}) EXPECT_EQ(ScaleToDpi(v, 96), v);
}

TEST(DialogScaling, InverseRoundsTheSameWay) {
    EXPECT_EQ(UnscaleFromDpi(874, 144), 583);  // 582.67
    EXPECT_EQ(UnscaleFromDpi(3, 144), 2);      // 2.0
    EXPECT_EQ(UnscaleFromDpi(15, 120), 12);    // 12.0
    EXPECT_EQ(UnscaleFromDpi(5, 192), 2);      // 2.5 -> 2
    EXPECT_EQ(UnscaleFromDpi(7, 192), 4);      // 3.5 -> 4
    EXPECT_EQ(UnscaleFromDpi(-21, 96), -21);
}

TEST(DialogTexts, VersionLabelReadsBytesHighToLow) {
    EXPECT_EQ(VersionLabel(0x01010000), "Version : 1.1.0.0");
    EXPECT_EQ(VersionLabel(0x01000000), "Version : 1.0.0.0");
    EXPECT_EQ(VersionLabel(0xFF0A0203), "Version : 255.10.2.3");
}

TEST(DialogTexts, SizeInKilobytesTiesToEven) {
    EXPECT_EQ(SizeText(1536), "Size : 2 Kb");  // 1.5
    EXPECT_EQ(SizeText(2560), "Size : 2 Kb");  // 2.5
    EXPECT_EQ(SizeText(3584), "Size : 4 Kb");  // 3.5
    EXPECT_EQ(SizeText(0), "Size : 0 Kb");
    EXPECT_EQ(SizeText(511), "Size : 0 Kb");
    EXPECT_EQ(SizeText(2147483647), "Size : 2097152 Kb");
    EXPECT_EQ(SizeText(-1), "Size : ");
}

TEST(DialogTexts, FileNamePartCutsAtAnySeparatorAndAt255) {
    EXPECT_EQ(FileNamePart("C:\\Photos\\a.jpg"), "a.jpg");
    EXPECT_EQ(FileNamePart("C:/x/b.png"), "b.png");
    EXPECT_EQ(FileNamePart("D:c.bmp"), "c.bmp");
    EXPECT_EQ(FileNamePart("plain.gif"), "plain.gif");
    EXPECT_EQ(FileNamePart("C:\\dir\\"), "");
    EXPECT_EQ(FileNamePart("C:\\" + std::string(300, 'n')), std::string(255, 'n'));
}

// Lead bytes of code page 932 (Japanese).
bool Lead932(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

TEST(DialogTexts, FileNamePartStepsOverTwoByteCharacters) {
    // In code page 932 the second byte of many characters is 0x5C, the
    // backslash: the folder "表" (95 5C) holds "ソ.jpg" (83 5C 2E ...).
    const std::string folder = "C:\\\x95\x5C";
    EXPECT_EQ(FileNamePart(folder + "\\\x83\x5C.jpg", Lead932), "\x83\x5C.jpg");
    EXPECT_EQ(FileNamePart(folder + "\\a.jpg", Lead932), "a.jpg");
    EXPECT_EQ(FileNamePart("\x83\x5C\x95\x5C", Lead932), "\x83\x5C\x95\x5C");
    // A lead byte at the very end has no second byte to step over.
    EXPECT_EQ(FileNamePart("C:\\a\x95", Lead932), "a\x95");
    // The same bytes in a single-byte code page are two names apart.
    EXPECT_EQ(FileNamePart(folder + "\\\x83\x5C.jpg"), ".jpg");
    EXPECT_EQ(FolderPart(folder + "\\piclist.dat", Lead932), folder + "\\");
    EXPECT_EQ(FolderPart("C:\\\x95\x5C", Lead932), "C:\\");
}

TEST(TreeItemData, SlotAndPositionRoundTrip) {
    EXPECT_EQ(ItemData(3, 0), 0x30000u);
    EXPECT_EQ(ItemSlot(ItemData(231, 65500)), 231);
    EXPECT_EQ(ItemPosition(ItemData(231, 65500)), 65500);
    EXPECT_EQ(ItemSlot(ItemData(0, 7)), 0);
}

TEST(SlotTable, FillThenAppendAndRemove) {
    TSlotTable t;
    for (int i = 1; i <= 3; ++i) t.SetFill(i, i);
    EXPECT_EQ(t.Count(), 3);
    // The catalogue now has entries 0..4; entry 4 lies beyond the slots in
    // use, so it takes slot 5 (the entry count) and slot 4 stays free.
    EXPECT_EQ(t.AssignNew(5), 5);
    EXPECT_EQ(t.EntryOf(5), 4);
    EXPECT_EQ(t.Count(), 5);
    // Removing entry 2 (slot 2) moves entries 3 and 4 down.
    t.RemoveEntry(2);
    EXPECT_EQ(t.EntryOf(1), 1);
    EXPECT_EQ(t.EntryOf(2), 0);
    EXPECT_FALSE(t.Live(2));
    EXPECT_EQ(t.EntryOf(3), 2);
    EXPECT_EQ(t.EntryOf(5), 3);
    // The next folder (entry 4 of 5) reuses the first free slot.
    EXPECT_EQ(t.AssignNew(5), 2);
    EXPECT_EQ(t.EntryOf(2), 4);
    EXPECT_TRUE(t.Live(0));
    // With entries 0..3 filled in order, the next one is appended.
    TSlotTable u;
    for (int i = 1; i <= 3; ++i) u.SetFill(i, i);
    EXPECT_EQ(u.AssignNew(4), 4);
    EXPECT_EQ(u.EntryOf(4), 3);
}

TEST(SlotTable, GrowsPastTheOldLimitAndRefusesBeyondItemData) {
    TSlotTable t;
    for (int n = 2; n <= 1001; ++n) EXPECT_EQ(t.AssignNew(n), n);
    EXPECT_EQ(t.Count(), 1001);
    EXPECT_EQ(t.EntryOf(1001), 1000);
    EXPECT_EQ(t.EntryOf(5000), 0);
    EXPECT_EQ(t.EntryOf(-1), 0);

    TSlotTable full;
    full.SetFill(TSlotTable::kMaxSlot, 1);
    EXPECT_EQ(full.AssignNew(TSlotTable::kMaxSlot + 2), -1);
    EXPECT_EQ(full.Count(), TSlotTable::kMaxSlot);
    full.Reset();
    EXPECT_EQ(full.Count(), 0);
    EXPECT_EQ(full.EntryOf(TSlotTable::kMaxSlot), 0);
}

TEST(OpenFilter, GroupsByDescriptionAndListsBmpOnce) {
    const std::vector<TFilterFormat> formats = {
        {".bmp", "Windows bitmap"}, {".jpg", "JPEG picture"}, {".jpeg", "JPEG picture"},
        {".png", "PNG picture"},    {".bmp", "Bitmap"},       {".gif", "GIF picture"},
    };
    EXPECT_EQ(BuildOpenFilter(formats),
              "All formats\0*.bmp;*.jpg;*.jpeg;*.png;*.gif\0"
              "Windows bitmap (*.bmp)\0*.bmp\0"
              "JPEG picture (*.jpg;*.jpeg)\0*.jpg;*.jpeg\0"
              "PNG picture (*.png)\0*.png\0"
              "GIF picture (*.gif)\0*.gif\0\0"s);
}

TEST(OpenFilter, EmptyDescriptionClosesAGroupAndIsNotListed) {
    const std::vector<TFilterFormat> formats = {{".tif", "TIFF"}, {".xyz", ""}, {".tiff", "TIFF"}};
    EXPECT_EQ(BuildOpenFilter(formats),
              "All formats\0*.tif;*.tiff\0TIFF (*.tif)\0*.tif\0TIFF (*.tiff)\0*.tiff\0\0"s);
}

TEST(OpenFilter, NoFormatsStillMakesAWellFormedFilter) {
    EXPECT_EQ(BuildOpenFilter({}), "All formats\0\0\0"s);
    // A table whose only format is a second bitmap entry after the first.
    EXPECT_EQ(BuildOpenFilter({{".bmp", "A"}, {".bmp", "A"}}), "All formats\0*.bmp\0A (*.bmp)\0*.bmp\0\0"s);
}

TEST(OpenFileResult, SingleAndMultipleSelections) {
    const std::string one = "C:\\Photos\\a.jpg\0\0"s;
    EXPECT_EQ(ParseOpenFileResult(one.data(), one.size(), 10), std::vector<std::string>{"C:\\Photos\\a.jpg"});

    const std::string many = "C:\\Photos\0a.jpg\0b.png\0\0"s;
    EXPECT_EQ(ParseOpenFileResult(many.data(), many.size(), 10),
              (std::vector<std::string>{"C:\\Photos\\a.jpg", "C:\\Photos\\b.png"}));

    const std::string root = "C:\\\0a.jpg\0b.png\0\0"s;
    EXPECT_EQ(ParseOpenFileResult(root.data(), root.size(), 4),
              (std::vector<std::string>{"C:\\a.jpg", "C:\\b.png"}));
}

TEST(OpenFileResult, NeverReadsPastTheBuffer) {
    // No terminating empty string within the given size.
    const char cut[] = {'D', ':', '\\', 'x', '\0', 'a', '.', 'j', 'p', 'g'};
    EXPECT_EQ(ParseOpenFileResult(cut, sizeof cut, 5), std::vector<std::string>{"D:\\x\\a.jpg"});
    EXPECT_TRUE(ParseOpenFileResult("\0\0", 2, 0).empty());
    EXPECT_TRUE(ParseOpenFileResult(nullptr, 0, 0).empty());
}

}  // namespace
