#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "docfile/docstore.h"
#include "docfile/workpool.h"
#include "peers/peers.h"

namespace punb {

// Where the documents one process holds stand among all of a set's.
struct DocumentShare {
  std::int64_t before = 0;  // documents held by the processes before this one
  std::int64_t count = 0;   // this process's
  std::int64_t total = 0;   // all processes'
};

// A set of training documents as a mode run takes it: a file, read when the run first needs it
// (the command line), or documents parsed from memory and handed over a block at a time (the
// Python package), so that a run that only counts them never holds them all. The modes read both
// alike.
class DocumentSet {
 public:
  // Fills `block`, which comes empty, with the next documents in order; false when none are left.
  using NextBlock = std::function<bool(DocStore& block)>;

  static DocumentSet file(std::string path) {
    DocumentSet s;
    s.name_ = std::move(path);
    return s;
  }
  // `name` says what the documents are in messages ("the positive documents"); `words`, when
  // known, is how many stored words they take (a header per document and a word per pair), so
  // that a store they are read into is taken at once.
  static DocumentSet blocks(NextBlock next, std::string name, std::size_t words = 0) {
    DocumentSet s;
    s.next_ = std::move(next);
    s.name_ = std::move(name);
    s.words_ = words;
    return s;
  }

  bool is_file() const { return !next_; }
  // The file's path, or what the documents are called.
  const std::string& name() const { return name_; }

  // Appends every document to `into` (of a file, this process's share), reading and parsing the
  // file with the pool when the set is one (every pair with an index of 0 or more is kept). A file
  // that cannot be read ends the run with "can not read training set".
  // With `line_bytes`, a file's lines' lengths are appended to it.
  DocumentShare read_into(DocStore& into, WorkerPool& pool, Peers& peers,
                          std::vector<std::uint64_t>* line_bytes = nullptr);

  // Hands every block of documents to take(const DocStore&), in order; returns their number.
  template <class Take>
  std::int64_t for_each_block(Take&& take) {
    DocStore block;
    std::int64_t documents = 0;
    for (;;) {
      block.clear();
      if (!next_(block)) return documents;
      documents += static_cast<std::int64_t>(block.documents());
      take(static_cast<const DocStore&>(block));
    }
  }

 private:
  std::string name_;
  NextBlock next_;
  std::size_t words_ = 0;
};

// The two training sets of a run.
struct TrainingSets {
  DocumentSet positive;
  DocumentSet unlabeled;
};

}  // namespace punb
