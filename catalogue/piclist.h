#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/exception.h"
#include "base/thread_owner.h"

// The catalogue: a list of entries, each a folder (or the root entry of
// single pictures) with the full paths of its pictures, and its file format
// piclist.dat. The format code works on byte streams so that it runs and is
// tested without Windows; opening files and walking folders live in the
// *_win32.cpp files.

// Raised for an entry or picture index outside the list.
class EListError : public Exception {
public:
    explicit EListError(int index);
};

// Sequential byte input. Read may return fewer than n bytes; 0 means the
// end of the data, or a read error once Failed says so.
class TByteSource {
public:
    virtual ~TByteSource() = default;
    virtual std::size_t Read(void* dst, std::size_t n) = 0;
    // True once a read has failed: the data goes on beyond what was read,
    // but cannot be read now.
    virtual bool Failed() const { return false; }
    // Bytes left, when the source knows it; lets the reader size a buffer by
    // what the file really holds rather than by a count the file claims.
    virtual bool Remaining(std::uint64_t& bytes) const {
        (void)bytes;
        return false;
    }
};

// Sequential byte output; Write throws Exception when the bytes cannot be
// written.
class TByteSink {
public:
    virtual ~TByteSink() = default;
    virtual void Write(const void* src, std::size_t n) = 0;
};

class TMemorySource final : public TByteSource {
public:
    explicit TMemorySource(std::string_view data) : data_(data) {}
    std::size_t Read(void* dst, std::size_t n) override;
    bool Remaining(std::uint64_t& bytes) const override;

private:
    std::string_view data_;  // not owned
    std::size_t pos_ = 0;
};

class TStringSink final : public TByteSink {
public:
    explicit TStringSink(std::string& out) : out_(out) {}
    void Write(const void* src, std::size_t n) override { out_.append(static_cast<const char*>(src), n); }

private:
    std::string& out_;  // not owned
};

// The picture paths of one entry. They are kept packed, each path followed
// by its 0x00 exactly as in the file's picture block, with one offset per
// picture: a catalogue of a million paths then costs little more than its
// file, and loading a block is one read plus one pass for the offsets.
class TPictureList {
public:
    int Count() const { return static_cast<int>(offsets_.size()); }
    bool Empty() const { return offsets_.empty(); }
    // The path at index i; valid until the list is next changed.
    std::string_view Item(int i) const;
    // Appends a path. A path cannot hold a 0x00 (it ends the path in the
    // file), so anything from the first 0x00 on is dropped.
    void Add(std::string_view path);
    void Append(const std::vector<std::string>& paths);
    void Delete(int i);
    void Clear();
    std::vector<std::string> ToVector() const;

    // The block as written to the file: every path with its 0x00.
    std::string_view Block() const { return data_; }
    // Takes over a picture block read from a file and indexes up to
    // maxCount paths in it. Bytes after the last complete path are dropped.
    void AssignBlock(std::string&& block, std::uint32_t maxCount);

private:
    std::string data_;                   // packed paths, each ended by 0x00
    std::vector<std::uint32_t> offsets_;  // start of each path in data_
};

// One catalogue entry.
struct TFolderItem {
    bool AutoRefresh = false;     // rescan the folder at every start
    bool IncludeSubdirs = true;   // scans of this folder descend into subfolders
    std::uintptr_t TreeNode = 0;  // the entry's node in the Photos tree; 0 when not shown; never stored
    TPictureList Pictures;        // full paths, in the order they were added
    std::string FolderPath;       // the folder as the user chose it; "Root" for entry 0
    bool Unreachable = false;     // the last scan could not reach the folder, whose list was kept; never stored
};

// Version written into the header; older files have 16-bit picture counts.
constexpr std::uint32_t kPicListVersion = 0x02020000;

class TPicList {
public:
    TPicList() = default;
    TPicList(const TPicList&) = delete;
    TPicList& operator=(const TPicList&) = delete;
    ~TPicList() = default;

    int Count() const { return static_cast<int>(items_.size()); }
    // The entry itself; its Pictures can be changed through it.
    const TFolderItem& GetItem(int i) const;
    TFolderItem& GetItem(int i) { return ItemAt(i); }
    TFolderItem& ItemAt(int i);
    int AddFolder(const std::string& path);
    // Appends an entry holding item's values; the entry takes over item's
    // picture list.
    int Add(TFolderItem item);
    void Delete(int i);
    void Clear();

    // The global picture index runs over entry 0's pictures, then entry
    // 1's, and so on.
    int TotalCount() const;
    // The picture with global index n; "" when n is negative or at least
    // TotalCount().
    std::string PictureAt(int n) const;

    void SaveToStream(TByteSink& sink) const;
    void WriteItem(int i, TByteSink& sink) const;
    // Appends the entries of a piclist.dat stream to the list. Damaged data
    // ends the load quietly; the entries read before it stay. A read error
    // ends it too; the entry it cut short keeps the pictures read whole
    // before it. Returns the version read from the stream's header, 0 when
    // it had none; it decides how this stream's records are read and
    // nothing else.
    std::uint32_t LoadFromStream(TByteSource& source);

    // File access (Windows layer). LoadFromFile tries three times, 100 ms
    // and 500 ms apart, and raises the third failure; a read that fails
    // part-way is no end of the file: the list keeps what came before it and
    // ReadProblem says what happened. SaveToFile writes a temporary file
    // beside `path` and replaces `path` with it in one step, so a failed or
    // interrupted save leaves the previous file as it was; it refuses while
    // ReadProblem is set, so that the part of a file that could be read
    // never replaces the whole unless someone decided so (KeepPartAsRead).
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path) const;

    // Why the last LoadFromFile read the file only in part; empty when it
    // read it whole. Clear empties it.
    const std::string& ReadProblem() const { return readProblem_; }
    // The list as read is to be kept and saved as it is.
    void KeepPartAsRead() { readProblem_.clear(); }

private:
    // Reads one entry from its record (the L bytes after the length) and its
    // picture block from `source`, as a file of `version` lays them out.
    // False when the load must stop here; the entry is appended unless the
    // record itself was unreadable.
    bool ReadItem(std::string_view record, TByteSource& source, std::uint32_t version);

    std::vector<std::unique_ptr<TFolderItem>> items_;  // owned; held by pointer so references stay put
    std::string readProblem_;                           // see ReadProblem

public:
    // The picture-loading thread claims the list for as long as a run's
    // loader may read it; adding, deleting and loading entries check it.
    TThreadOwner Owner;
};
