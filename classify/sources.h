#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "docfile/fatal.h"
#include "docfile/reader.h"
#include "peers/peers.h"

namespace punb::classify {

// The lines of the --ids files, one source per document, taken in turn as the documents come.
class SourcesInTurn {
 public:
  explicit SourcesInTurn(const std::vector<std::string>& paths) : paths_(paths) {}

  // The source of the next document; running out ends the run.
  std::string_view next();
  // Ends the run when lines are left over: the sources belong to other documents.
  void check_all_taken();

 private:
  bool open_next();

  const std::vector<std::string>& paths_;
  std::size_t next_path_ = 0;
  std::unique_ptr<DocumentReader> reader_;
  std::uint64_t taken_ = 0;
};

// The lines of the --ids files found by document number, for output in another order: the files
// are mapped, not read into memory, and only where each line starts is kept.
class SourcesByNumber {
 public:
  explicit SourcesByNumber(const std::vector<std::string>& paths);
  SourcesByNumber(const SourcesByNumber&) = delete;
  SourcesByNumber& operator=(const SourcesByNumber&) = delete;

  std::uint64_t size() const { return starts_.size(); }
  std::string_view at(std::uint64_t document) const;

 private:
  // A file's bytes: mapped, or copied for a file that cannot be mapped (a pipe). The bytes are
  // found anew at each use, since a short copy lives inside the object and moves with it.
  class Mapped {
   public:
    Mapped() = default;
    Mapped(Mapped&& other) noexcept;
    Mapped& operator=(Mapped&&) = delete;
    ~Mapped();
    void map(const char* data, std::size_t size);
    std::string& copy() { return copy_; }
    std::string_view bytes() const { return map_ ? std::string_view(map_, size_) : copy_; }

   private:
    const char* map_ = nullptr;
    std::size_t size_ = 0;
    std::string copy_;
  };
  std::vector<Mapped> files_;
  std::vector<std::uint64_t> first_;   // the first document of each file, and the total last
  std::vector<std::uint64_t> starts_;  // where each document's line starts in its file
};

// The lines of the --ids files on the processes of a run: each process reads its share of every
// file (cut at line starts, as document files are) and hands the sources of any document to the
// process that asks for them, so that no process reads them all. A file that cannot be read ends
// nothing at once: the run meets it where one process would have, when a document needs a line
// from it or the files are checked at the end.
class SharedSources {
 public:
  // Collective.
  SharedSources(const std::vector<std::string>& paths, Peers& peers);

  // The lines before the first file that cannot be read: all of them when all can be.
  std::uint64_t usable() const { return usable_; }
  // The fault of the first file that cannot be read, if there is one.
  const std::optional<Fatal>& unreadable() const { return unreadable_; }
  // "path:line" of line n (from 0) of the files taken as one, n < usable().
  std::string where(std::uint64_t n) const;

  // The sources of `documents` (increasing numbers below usable()), in their order. Collective.
  std::vector<std::string> fetch(const std::vector<std::uint64_t>& documents);

  // The sources of a run of documents in increasing order, read by this process from the files
  // themselves, from wherever the first of them lies: not collective.
  class Cursor {
   public:
    explicit Cursor(const SharedSources& sources) : sources_(sources) {}
    // The source of document n (below usable(), n no smaller than the last one asked for).
    std::string_view at(std::uint64_t n);

   private:
    const SharedSources& sources_;
    std::size_t file_ = 0;
    std::unique_ptr<DocumentReader> reader_;
    std::uint64_t next_ = 0;  // the document of the line the reader hands out next
    Line line_{};
  };

 private:
  std::size_t segment_of(std::uint64_t n) const;
  std::string_view line_at(std::size_t segment, std::uint64_t n);

  Peers& peers_;
  std::vector<std::string> paths_;
  // This process's share of each file that can be read, and how many of its lines it has read.
  std::vector<std::unique_ptr<DocumentReader>> readers_;
  std::vector<std::uint64_t> read_;
  // Segment f * size + q is process q's share of file f: starts_ holds the number of its first
  // line among all, and the number of all lines last; begins_ where it starts in its file.
  std::vector<std::uint64_t> starts_;
  std::vector<std::int64_t> begins_;
  std::vector<std::int64_t> sizes_;  // of each file that can be read
  std::uint64_t usable_ = 0;
  std::optional<Fatal> unreadable_;
};

}  // namespace punb::classify
