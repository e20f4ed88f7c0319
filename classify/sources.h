#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "docfile/reader.h"

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

}  // namespace punb::classify
