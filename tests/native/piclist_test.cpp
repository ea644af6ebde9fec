#include "catalogue/piclist.h"
#include "catalogue/hidden_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(char(v));
    return out;
}

// The two-entry catalogue of the format's own example: an empty root entry
// and C:\P (auto refresh off, subfolders on) holding C:\P\a.jpg.
const std::string kExample = Bytes({0x50, 0x52, 0x00, 0x00, 0x02, 0x02,
                                    0x0E, 0x00, 0x52, 0x6F, 0x6F, 0x74, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x00,
                                    0x0E, 0x00, 0x43, 0x3A, 0x5C, 0x50, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00,
                                    0x0B, 0x00, 0x00, 0x00, 0x43, 0x3A, 0x5C, 0x50, 0x5C, 0x61, 0x2E, 0x6A,
                                    0x70, 0x67, 0x00});

std::string Le32(std::uint32_t v) { return Bytes({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24)}); }
std::string Le16(std::uint32_t v) { return Bytes({int(v & 0xFF), int(v >> 8 & 0xFF)}); }

const std::string kHeader = std::string("PR") + Le32(0x02020000);

// A current-version record with free-form count and total, and the block.
std::string Record(const std::string& path, int flags, std::uint32_t count, std::uint32_t total,
                   const std::string& block) {
    return Le16(std::uint32_t(path.size() + 10)) + path + std::string(1, '\0') + char(flags) + Le32(count) +
           Le32(total) + block;
}

std::string OldRecord(const std::string& path, int flags, std::uint32_t count, const std::string& block) {
    return Le16(std::uint32_t(path.size() + 8)) + path + std::string(1, '\0') + char(flags) + Le16(count) +
           Le32(std::uint32_t(block.size())) + block;
}

std::string Save(const TPicList& list) {
    std::string out;
    TStringSink sink(out);
    list.SaveToStream(sink);
    return out;
}

// Returns the version the stream's header gave.
std::uint32_t Load(TPicList& list, const std::string& bytes) {
    TMemorySource source(bytes);
    return list.LoadFromStream(source);
}

// Hands out at most 3 bytes per read and never says how much is left, as a
// pipe or a slow device might.
class TDribbleSource final : public TByteSource {
public:
    explicit TDribbleSource(std::string data) : data_(std::move(data)) {}
    std::size_t Read(void* dst, std::size_t n) override {
        const std::size_t take = std::min({n, std::size_t(3), data_.size() - pos_});
        std::memcpy(dst, data_.data() + pos_, take);
        pos_ += take;
        return take;
    }

private:
    std::string data_;
    std::size_t pos_ = 0;
};

std::vector<std::string> Pics(const TPicList& list, int i) { return list.GetItem(i).Pictures.ToVector(); }

using Strings = std::vector<std::string>;

// ---- format: exact bytes ----

TEST(PicListFormat, WritesTheExampleBytes) {
    TPicList list;
    list.AddFolder("Root");
    list.ItemAt(list.AddFolder("C:\\P")).Pictures.Add("C:\\P\\a.jpg");
    EXPECT_EQ(Save(list), kExample);
}

TEST(PicListFormat, ReadsTheExampleBytes) {
    TPicList list;
    EXPECT_EQ(Load(list, kExample), 0x02020000u);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.GetItem(0).FolderPath, "Root");
    EXPECT_TRUE(list.GetItem(0).Pictures.Empty());
    EXPECT_EQ(list.GetItem(1).FolderPath, "C:\\P");
    EXPECT_FALSE(list.GetItem(1).AutoRefresh);
    EXPECT_TRUE(list.GetItem(1).IncludeSubdirs);
    EXPECT_EQ(Pics(list, 1), Strings{"C:\\P\\a.jpg"});
}

TEST(PicListFormat, FlagsAreBitsZeroAndOne) {
    TPicList list;
    for (int flags = 0; flags < 4; ++flags) {
        TFolderItem& item = list.ItemAt(list.AddFolder("F"));
        item.AutoRefresh = flags & 1;
        item.IncludeSubdirs = flags & 2;
    }
    const std::string bytes = Save(list);
    for (int flags = 0; flags < 4; ++flags) EXPECT_EQ(bytes[std::size_t(6 + 13 * flags + 4)], char(flags));

    // Other bits in the file are ignored on reading.
    TPicList back;
    Load(back, kHeader + Record("X", 0xFD, 0, 0, ""));
    ASSERT_EQ(back.Count(), 1);
    EXPECT_TRUE(back.GetItem(0).AutoRefresh);
    EXPECT_FALSE(back.GetItem(0).IncludeSubdirs);
}

TEST(PicListFormat, RoundTripKeepsEverythingButTreeNode) {
    TPicList list;
    list.ItemAt(list.AddFolder("Root")).Pictures.Append({"D:\\z.png", "C:\\a.jpg"});
    list.ItemAt(list.AddFolder("C:\\Empty")).AutoRefresh = true;
    TFolderItem item;
    item.FolderPath = "E:\\Fotos \xC4";
    item.AutoRefresh = true;
    item.IncludeSubdirs = false;
    item.TreeNode = 1234;
    item.Pictures.Append({"E:\\Fotos \xC4\\3.jpg", "E:\\Fotos \xC4\\1.jpg", "E:\\Fotos \xC4\\2.jpg"});
    list.Add(std::move(item));
    list.AddFolder("");

    const std::string bytes = Save(list);
    TPicList back;
    Load(back, bytes);
    ASSERT_EQ(back.Count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(back.GetItem(i).FolderPath, list.GetItem(i).FolderPath);
        EXPECT_EQ(back.GetItem(i).AutoRefresh, list.GetItem(i).AutoRefresh);
        EXPECT_EQ(back.GetItem(i).IncludeSubdirs, list.GetItem(i).IncludeSubdirs);
        EXPECT_EQ(back.GetItem(i).TreeNode, 0u);
        EXPECT_EQ(Pics(back, i), Pics(list, i));
    }
    EXPECT_EQ(Save(back), bytes);
}

TEST(PicListFormat, OldVersionsHaveSixteenBitCounts) {
    const std::string block = std::string("a.jpg") + '\0' + "b.jpg" + '\0';
    TPicList list;
    EXPECT_EQ(Load(list, std::string("PR") + Le32(0x02010000) + OldRecord("Root", 2, 0, "") +
                             OldRecord("C:\\P", 3, 2, block)),
              0x02010000u);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(Pics(list, 1), (Strings{"a.jpg", "b.jpg"}));
    EXPECT_TRUE(list.GetItem(1).AutoRefresh);

    // Without "PR" the first two bytes are dropped and the version is 0.
    TPicList headless;
    EXPECT_EQ(Load(headless, "XX" + OldRecord("C:\\Q", 2, 1, std::string("q.gif") + '\0')), 0u);
    ASSERT_EQ(headless.Count(), 1);
    EXPECT_EQ(Pics(headless, 0), Strings{"q.gif"});
}

// Hands out `data`, and runs `between` once, when the first read after the
// six header bytes arrives.
class TInterruptedSource final : public TByteSource {
public:
    TInterruptedSource(std::string data, std::function<void()> between)
        : data_(std::move(data)), between_(std::move(between)) {}
    std::size_t Read(void* dst, std::size_t n) override {
        if (pos_ == 6 && between_) std::exchange(between_, nullptr)();
        const std::size_t take = std::min(n, data_.size() - pos_);
        std::memcpy(dst, data_.data() + pos_, take);
        pos_ += take;
        return take;
    }

private:
    std::string data_;
    std::function<void()> between_;
    std::size_t pos_ = 0;
};

// A load of the other version that runs while one is under way (another
// catalogue read on the same thread) must not change how the first one
// reads its records: in the current layout the example's second record,
// read with 16-bit counts, claims a picture block of 0xB0000 bytes.
TEST(PicListFormat, EachLoadReadsItsRecordsByItsOwnHeader) {
    const std::string old =
        std::string("PR") + Le32(0x02010000) + OldRecord("C:\\Old", 2, 1, std::string("o.jpg") + '\0');
    TPicList nested;
    std::uint32_t nestedVersion = 0;
    TInterruptedSource source(kExample, [&] { nestedVersion = Load(nested, old); });
    TPicList outer;
    EXPECT_EQ(outer.LoadFromStream(source), 0x02020000u);
    EXPECT_EQ(nestedVersion, 0x02010000u);
    ASSERT_EQ(outer.Count(), 2);
    EXPECT_EQ(Pics(outer, 1), Strings{"C:\\P\\a.jpg"});
    ASSERT_EQ(nested.Count(), 1);
    EXPECT_EQ(Pics(nested, 0), Strings{"o.jpg"});
}

// ---- format: damaged input ----

TEST(PicListDamage, EmptyAndHeaderOnlyFilesGiveNoEntries) {
    for (const std::string& bytes : {std::string(), std::string("P"), std::string("PR"), kHeader.substr(0, 5), kHeader,
                                     std::string("XX")}) {
        TPicList list;
        Load(list, bytes);
        EXPECT_EQ(list.Count(), 0) << bytes.size();
    }
}

TEST(PicListDamage, CutAtEveryByteKeepsWhatCameBefore) {
    for (std::size_t cut = 0; cut <= kExample.size(); ++cut) {
        TPicList list;
        TDribbleSource source(kExample.substr(0, cut));
        list.LoadFromStream(source);
        const int expected = (cut >= 22 ? 1 : 0) + (cut >= 38 ? 1 : 0);
        ASSERT_EQ(list.Count(), expected) << "cut at " << cut;
        if (expected == 2) {
            // A short picture block leaves its entry in place with no pictures.
            EXPECT_EQ(list.GetItem(1).Pictures.Count(), cut == kExample.size() ? 1 : 0) << "cut at " << cut;
        }
    }
}

TEST(PicListDamage, ShortPictureBlockStopsTheLoad) {
    const std::string next = Record("C:\\Next", 2, 0, 0, "");
    TPicList list;
    // The block claims 100 bytes; the next record is swallowed into it and
    // the data still runs out.
    Load(list, kHeader + Record("C:\\P", 2, 1, 100, std::string("x.jpg") + '\0') + next);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.GetItem(0).FolderPath, "C:\\P");
    EXPECT_TRUE(list.GetItem(0).Pictures.Empty());
}

TEST(PicListDamage, CountAndTotalDisagree) {
    const std::string block = std::string("a") + '\0' + "b" + '\0';
    const std::string next = Record("Next", 2, 1, 2, std::string("n") + '\0');
    struct Case {
        std::uint32_t count;
        std::string block;
        Strings pictures;
    } cases[] = {
        {5, block, {"a", "b"}},                       // more than present: stop at the last 0x00
        {1, block, {"a"}},                            // fewer: the rest of the block is skipped
        {0, block, {}},                               // zero with a non-zero total
        {3, std::string("a") + '\0' + "bc", {"a"}},  // a trailing path without its 0x00 is not a picture
        {2, std::string(1, '\0') + "b" + '\0', {"", "b"}},
    };
    for (const Case& c : cases) {
        TPicList list;
        Load(list, kHeader + Record("F", 2, c.count, std::uint32_t(c.block.size()), c.block) + next);
        ASSERT_EQ(list.Count(), 2) << c.count;
        EXPECT_EQ(Pics(list, 0), c.pictures) << c.count;
        // The following record is read from the right place.
        EXPECT_EQ(Pics(list, 1), Strings{"n"}) << c.count;
    }
}

TEST(PicListDamage, UnreadableRecordsStopWithoutAnEntry) {
    const std::string first = Record("First", 2, 0, 0, "");
    const std::string after = Record("After", 2, 0, 0, "");
    const std::string noZero = Le16(4) + "abcd";
    const std::string shortFixed = Le16(9) + "ab" + std::string(1, '\0') + "\x02" + Le32(0) + "\x01";  // 6 of 9
    const std::string zeroLength = Le16(0);
    const std::string shortRecord = Le16(40) + "abc";
    for (const std::string& bad : {noZero, shortFixed, zeroLength, shortRecord}) {
        TPicList list;
        Load(list, kHeader + first + bad + after);
        ASSERT_EQ(list.Count(), 1);
        EXPECT_EQ(list.GetItem(0).FolderPath, "First");
    }
    // Old versions need 7 bytes after the 0x00; 6 are not enough.
    TPicList old;
    Load(old, std::string("PR") + Le32(0x02000000) + Le16(8) + "a" + std::string(1, '\0') + "\x02" + Le16(0) +
                  Le32(0).substr(0, 3) + OldRecord("After", 2, 0, ""));
    EXPECT_EQ(old.Count(), 0);
}

TEST(PicListDamage, LongerRecordsIgnoreTheirSurplus) {
    std::string record = Record("F", 1, 1, 2, "");
    record[0] = char(record[0] + 3);  // L three bytes longer than needed
    TPicList list;
    Load(list, kHeader + record + "zzz" + "p" + std::string(1, '\0'));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(Pics(list, 0), Strings{"p"});
}

TEST(PicListDamage, HugeCountsDoNotAllocateWhatTheFileClaims) {
    // Under AddressSanitizer an allocation of gigabytes would abort the test.
    const std::string huge = kHeader + Record("Big", 2, 0xFFFFFFFF, 0xFFFFFFF0, std::string("a") + '\0');
    TPicList list;
    Load(list, huge);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_TRUE(list.GetItem(0).Pictures.Empty());

    TPicList dribbled;
    TDribbleSource source(huge);
    dribbled.LoadFromStream(source);
    ASSERT_EQ(dribbled.Count(), 1);
    EXPECT_TRUE(dribbled.GetItem(0).Pictures.Empty());

    // A believable total with an absurd count.
    const std::string block = std::string("a") + '\0';
    TPicList counted;
    Load(counted, kHeader + Record("C", 2, 0xFFFFFFFF, 2, block));
    EXPECT_EQ(Pics(counted, 0), Strings{"a"});
}

TEST(PicListDamage, LoadingAppendsToWhatIsThere) {
    TPicList list;
    list.AddFolder("Before");
    Load(list, kExample);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.GetItem(0).FolderPath, "Before");
    EXPECT_EQ(list.GetItem(2).FolderPath, "C:\\P");
}

// ---- saving what the format cannot hold ----

TEST(PicListLimits, FolderPathLengthIsBoundBySixteenBitL) {
    TPicList list;
    list.AddFolder(std::string(0xFFFF - 10, 'p'));
    const std::string bytes = Save(list);
    TPicList back;
    Load(back, bytes);
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(back.GetItem(0).FolderPath.size(), std::size_t(0xFFFF - 10));

    list.ItemAt(0).FolderPath.push_back('p');
    EXPECT_THROW(Save(list), Exception);
    list.ItemAt(0).FolderPath = std::string("a\0b", 3);
    EXPECT_THROW(Save(list), Exception);
}

TEST(PicListLimits, PicturePathsStopAtZeroBytes) {
    TPictureList pictures;
    pictures.Add(std::string("a.jpg\0tail", 10));
    EXPECT_EQ(pictures.ToVector(), Strings{"a.jpg"});
}

// ---- the list and its global index ----

TEST(PicListModel, AddFolderDefaults) {
    TPicList list;
    EXPECT_EQ(list.AddFolder("Root"), 0);
    EXPECT_EQ(list.AddFolder("C:\\x"), 1);
    const TFolderItem& item = list.GetItem(1);
    EXPECT_FALSE(item.AutoRefresh);
    EXPECT_TRUE(item.IncludeSubdirs);
    EXPECT_EQ(item.TreeNode, 0u);
    EXPECT_TRUE(item.Pictures.Empty());
}

TEST(PicListModel, DeleteOutsideTheListRaisesTheListError) {
    TPicList list;
    list.AddFolder("a");
    for (int bad : {1, -1, 7}) {
        try {
            list.Delete(bad);
            FAIL() << bad;
        } catch (const EListError& e) {
            EXPECT_EQ(std::string(e.what()), "List index exceeds bounds (" + std::to_string(bad) + ")");
        }
    }
    EXPECT_THROW(list.GetItem(1), EListError);
    EXPECT_THROW(list.ItemAt(-1), EListError);
    EXPECT_EQ(list.Count(), 1);
}

TEST(PicListModel, DeleteMovesLaterEntriesDown) {
    TPicList list;
    for (const char* name : {"a", "b", "c"}) list.ItemAt(list.AddFolder(name)).Pictures.Add(name);
    TFolderItem& c = list.ItemAt(2);
    list.Delete(1);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.GetItem(1).FolderPath, "c");
    EXPECT_EQ(&list.ItemAt(1), &c);  // entries are held by reference
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.TotalCount(), 0);
}

TEST(PicListModel, GlobalIndexRunsAcrossEntries) {
    TPicList list;
    list.ItemAt(list.AddFolder("Root")).Pictures.Append({"r0", "r1"});
    list.AddFolder("empty");
    list.ItemAt(list.AddFolder("F")).Pictures.Append({"f0", "f1", "f2"});
    EXPECT_EQ(list.TotalCount(), 5);
    EXPECT_EQ(list.PictureAt(0), "r0");
    EXPECT_EQ(list.PictureAt(1), "r1");
    EXPECT_EQ(list.PictureAt(2), "f0");
    EXPECT_EQ(list.PictureAt(4), "f2");
    EXPECT_EQ(list.PictureAt(list.TotalCount()), "");
    EXPECT_EQ(list.PictureAt(-1), "");
}

TEST(PicListModel, PictureListDeleteKeepsTheOthers) {
    TPictureList pictures;
    pictures.Append({"one", "", "three", "four"});
    pictures.Delete(1);
    EXPECT_EQ(pictures.ToVector(), (Strings{"one", "three", "four"}));
    pictures.Delete(2);
    pictures.Delete(0);
    EXPECT_EQ(pictures.ToVector(), Strings{"three"});
    EXPECT_THROW(pictures.Delete(1), EListError);
    EXPECT_THROW(pictures.Item(-1), EListError);
    pictures.Add("five");
    EXPECT_EQ(pictures.Item(1), "five");
    EXPECT_EQ(pictures.Block(), std::string("three") + '\0' + "five" + '\0');
}

}  // namespace

// ---- the fuzzer's seed corpus, replayed on every run ----

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

TEST(PicListCorpus, SeedsReadAloneOrTrickledAndRoundTrip) {
    const std::filesystem::path dir = std::filesystem::path(QV_TEST_DATA) / "piclist_read";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream buffer;
        buffer << in.rdbuf();
        const std::string bytes = buffer.str();
        SCOPED_TRACE(entry.path().filename().string());
        ++files;

        TPicList whole;
        Load(whole, bytes);
        TPicList trickled;
        TDribbleSource source(bytes);
        trickled.LoadFromStream(source);
        const std::string saved = Save(whole);
        EXPECT_EQ(Save(trickled), saved);
        TPicList again;
        Load(again, saved);
        EXPECT_EQ(Save(again), saved);
        EXPECT_GE(whole.Count(), entry.path().filename() == "header_only.dat" ? 0 : 1);
    }
    EXPECT_GE(files, 8);
}

}  // namespace

// The hidden pictures' list and its file.
namespace {

std::string HiddenFile(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* l : lines) out += std::string(l) + "\r\n";
    return out;
}

}  // namespace

TEST(HiddenList, ComparesAsTheCatalogueDoes) {
    THiddenList list;
    EXPECT_TRUE(list.Add("C:\\Photos\\Beach.JPG"));
    EXPECT_TRUE(list.Contains("c:\\photos\\beach.jpg"));
    EXPECT_FALSE(list.Add("C:\\PHOTOS\\beach.jpg"));  // the same picture
    // Latin-1 capitals fold too; a name that differs in more than case does not match.
    EXPECT_TRUE(list.Add("C:\\\xC9t\xE9.jpg"));
    EXPECT_TRUE(list.Contains("c:\\\xE9t\xE9.jpg"));
    EXPECT_FALSE(list.Contains("C:\\Photos\\Beach.jpeg"));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.Remove("c:\\PHOTOS\\BEACH.jpg"));
    EXPECT_FALSE(list.Contains("C:\\Photos\\Beach.JPG"));
    EXPECT_FALSE(list.Remove("C:\\Photos\\Beach.JPG"));
    // What no line of the file could hold is refused.
    EXPECT_FALSE(list.Add(""));
    EXPECT_FALSE(list.Add("C:\\a\r\nb.jpg"));
    EXPECT_FALSE(list.Add(std::string("C:\\a\0b.jpg", 10)));
    EXPECT_FALSE(list.Add("C:\\" + std::string(THiddenList::kMaxPathBytes, 'x')));
    EXPECT_EQ(list.Count(), 1);
}

TEST(HiddenList, RoundTripsThroughItsFile) {
    THiddenList list;
    for (const char* p : {"D:\\z.jpg", "C:\\b\\a.png", "\\\\server\\share\\c.bmp", "C:\\B\\b.png"})
        EXPECT_TRUE(list.Add(p));
    const std::string bytes = list.Encode();
    EXPECT_EQ(bytes, HiddenFile({"Quorvane hidden pictures 1", "\\\\server\\share\\c.bmp", "C:\\b\\a.png",
                                 "C:\\B\\b.png", "D:\\z.jpg"}));
    THiddenList back;
    back.Add("C:\\gone.jpg");  // replaced by what is read
    EXPECT_EQ(back.Decode(bytes), 0u);
    EXPECT_EQ(back.Paths(), list.Paths());
    EXPECT_EQ(THiddenList().Encode(), "Quorvane hidden pictures 1\r\n");
}

TEST(HiddenList, DamagedFilesGiveWhatIsSound) {
    THiddenList list;
    // Cut off inside a line: the half name is no name.
    EXPECT_EQ(list.Decode(HiddenFile({"Quorvane hidden pictures 1", "C:\\a.jpg"}) + "C:\\b.j"), 1u);
    EXPECT_EQ(list.Paths(), std::vector<std::string>{"C:\\a.jpg"});
    // Cut off inside the header, or no header at all, or another version: nothing.
    for (const std::string& bad : {std::string("Quorvane hid"), std::string(), HiddenFile({"C:\\a.jpg"}),
                                  HiddenFile({"Quorvane hidden pictures 2", "C:\\a.jpg"})}) {
        list.Add("C:\\left.jpg");
        list.Decode(bad);
        EXPECT_TRUE(list.Empty()) << bad;
    }
    // Unsorted, repeated, blank, LF-only and 0x00 lines, and one over-long line.
    const std::string mixed = "Quorvane hidden pictures 1\nC:\\z.jpg\n\r\nc:\\Z.JPG\r\nC:\\a.jpg\n" +
                              std::string("C:\\n\0l.jpg\r\n", 13) + "C:\\" +
                              std::string(THiddenList::kMaxPathBytes, 'x') + "\r\nC:\\m.jpg\r\n";
    EXPECT_EQ(list.Decode(mixed), 3u);
    EXPECT_EQ(list.Paths(), (std::vector<std::string>{"C:\\a.jpg", "C:\\m.jpg", "C:\\z.jpg"}));
    EXPECT_TRUE(list.Contains("c:\\M.jpg"));
}

TEST(HiddenList, CutAtEveryByteKeepsTheWholeLinesBefore) {
    THiddenList full;
    for (const char* p : {"C:\\a.jpg", "C:\\bb.jpg", "C:\\ccc.jpg"}) full.Add(p);
    const std::string bytes = full.Encode();
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        THiddenList part;
        part.Decode(bytes.substr(0, cut));
        // Every path read is a whole one, and they are the first ones.
        const std::size_t lines = std::count(bytes.begin(), bytes.begin() + cut, '\n');
        ASSERT_EQ(part.Count(), static_cast<int>(lines == 0 ? 0 : lines - 1)) << cut;
        for (int i = 0; i < part.Count(); ++i) EXPECT_EQ(part.Paths()[i], full.Paths()[i]);
    }
}

TEST(HiddenList, RemoveIfAndFileLocation) {
    THiddenList list;
    for (const char* p : {"C:\\a.jpg", "C:\\b.jpg", "C:\\c.jpg"}) list.Add(p);
    EXPECT_EQ(list.RemoveIf([](const std::string& p) { return p != "C:\\b.jpg"; }), 2u);
    EXPECT_EQ(list.Paths(), std::vector<std::string>{"C:\\b.jpg"});
    EXPECT_EQ(HiddenListFileFor("C:\\Users\\a\\AppData\\Quorvane\\piclist.dat"),
              "C:\\Users\\a\\AppData\\Quorvane\\hidden.dat");
    EXPECT_EQ(HiddenListFileFor(""), "");
}
