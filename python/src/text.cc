// punb._core's reading of text: punb-vectorize's passes over texts that Python holds, so that the
// same texts give the same vocabulary and the same vectors as the command line's files.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "docfile/large_pages.h"
#include "module.h"
#include "vectorize/batches.h"
#include "vectorize/passes.h"
#include "words/filter.h"
#include "words/stopwords.h"
#include "words/utf8.h"
#include "words/words.h"

namespace py = pybind11;

namespace punb::python {

namespace {

// The texts of a Python list as UTF-8, valid while this lives: a str of ASCII and bytes are read
// in place, the other str are encoded into one block of this object's (Python's own encoding
// would allocate an object per text and cache it in the str for good).
class Texts {
 public:
  // Under the GIL: where each text is.
  explicit Texts(const py::list& documents) : views_(documents.size()) {
    for (std::size_t k = 0; k < documents.size(); ++k) {
      PyObject* o = documents[k].ptr();
      if (PyUnicode_Check(o)) {
#if PY_VERSION_HEX < 0x030C0000
        if (PyUnicode_READY(o) != 0) throw py::error_already_set();  // a str of the old kind
#endif
        const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(o));
        if (PyUnicode_IS_ASCII(o)) {
          views_[k] = {static_cast<const char*>(PyUnicode_DATA(o)), length};
        } else {
          unicode_.push_back({k, PyUnicode_KIND(o), PyUnicode_DATA(o), length});
        }
      } else if (PyBytes_Check(o)) {
        views_[k] = {PyBytes_AS_STRING(o), static_cast<std::size_t>(PyBytes_GET_SIZE(o))};
      } else {
        throw py::type_error("document " + std::to_string(k) + " is a " +
                             std::string(Py_TYPE(o)->tp_name) +
                             "; the documents are str (or bytes of UTF-8)");
      }
    }
  }

  // Without the GIL: encodes the str that are not ASCII. A surrogate code point has no UTF-8:
  // its text is left empty and named by unencodable().
  void encode() {
    std::size_t bytes = 0;
    for (const Unicode& u : unicode_) bytes += utf8_size(u);
    utf8_.resize(bytes);
    char* out = utf8_.data();
    for (const Unicode& u : unicode_) {
      char* const start = out;
      if (!encode_one(u, out)) {
        if (unencodable_ == kNone) unencodable_ = u.document;
        out = start;
      }
      views_[u.document] = {start, static_cast<std::size_t>(out - start)};
    }
  }

  // Under the GIL, after encode(): raises Python's own error for a text it cannot encode.
  void check(const py::list& documents) const {
    if (unencodable_ == kNone) return;
    py::reinterpret_steal<py::object>(PyUnicode_AsUTF8String(documents[unencodable_].ptr()));
    throw py::error_already_set();
  }

  std::span<const std::string_view> views() const { return views_; }

 private:
  static constexpr std::size_t kNone = SIZE_MAX;

  struct Unicode {
    std::size_t document;
    int kind;  // bytes per code point
    const void* data;
    std::size_t length;
  };

  static std::uint32_t code_point(const Unicode& u, std::size_t i) {
    if (u.kind == PyUnicode_1BYTE_KIND) return static_cast<const Py_UCS1*>(u.data)[i];
    if (u.kind == PyUnicode_2BYTE_KIND) return static_cast<const Py_UCS2*>(u.data)[i];
    return static_cast<const Py_UCS4*>(u.data)[i];
  }
  static std::size_t utf8_size(const Unicode& u) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < u.length; ++i) {
      const std::uint32_t c = code_point(u, i);
      n += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    return n;
  }
  static bool encode_one(const Unicode& u, char*& out) {
    for (std::size_t i = 0; i < u.length; ++i) {
      const std::uint32_t c = code_point(u, i);
      if (c < 0x80) {
        *out++ = static_cast<char>(c);
      } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | c >> 6);
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        if (c >= 0xD800 && c <= 0xDFFF) return false;
        *out++ = static_cast<char>(0xE0 | c >> 12);
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
      } else {
        *out++ = static_cast<char>(0xF0 | c >> 18);
        *out++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return true;
  }

  std::vector<std::string_view> views_;
  std::vector<Unicode> unicode_;
  HugePageVector<char> utf8_;
  std::size_t unencodable_ = kNone;
};

// Hands a vector to numpy without a copy: the array's base owns it.
template <class T>
py::array_t<T> as_array(HugePageVector<T>&& v) {
  auto* owned = new HugePageVector<T>(std::move(v));
  const py::capsule owner(owned, [](void* p) { delete static_cast<HugePageVector<T>*>(p); });
  return py::array_t<T>(static_cast<py::ssize_t>(owned->size()), owned->data(), owner);
}

// The documents' vectors as compressed sparse rows, column = index - 1, collected from the lines
// the passes write.
struct Rows {
  HugePageVector<std::int64_t> indptr{0};
  HugePageVector<std::int32_t> indices;
  HugePageVector<std::int64_t> data;

  void reserve(std::size_t rows, std::size_t pairs) {
    indptr.reserve(rows + 1);
    indices.reserve(pairs);
    data.reserve(pairs);
  }

  // A line of `index:count` pairs in increasing index order, ending with its line break.
  void add(std::string_view line) {
    const char* p = line.data();
    const char* end = p + line.size() - 1;
    while (p < end) {
      std::uint32_t index = 0;
      std::int64_t count = 0;
      p = std::from_chars(p, end, index).ptr + 1;
      p = std::from_chars(p, end, count).ptr + 1;
      indices.push_back(static_cast<std::int32_t>(index - 1));
      data.push_back(count);
    }
    indptr.push_back(static_cast<std::int64_t>(indices.size()));
  }

  // (indptr, indices, data), taken from this: the two index arrays int32 when they fit, else
  // both int64.
  py::tuple arrays() {
    if (indices.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      HugePageVector<std::int32_t> pointers(indptr.begin(), indptr.end());
      return py::make_tuple(as_array(std::move(pointers)), as_array(std::move(indices)),
                            as_array(std::move(data)));
    }
    HugePageVector<std::int64_t> wide(indices.begin(), indices.end());
    return py::make_tuple(as_array(std::move(indptr)), as_array(std::move(wide)),
                          as_array(std::move(data)));
  }
};

// Writes the documents' vectors with the vocabulary into `rows`; with a complete `recording` of
// the training pass, the documents it recorded are not read again.
void encode(const vectorize::Corpus& corpus, const words::WordFilter& filter,
            const words::Vocabulary& vocabulary, int threads, vectorize::WordSplitters& splitters,
            vectorize::Recording* recording, Rows& rows) {
  vectorize::encode_sets(
      corpus, filter, vocabulary, threads,
      [&](const vectorize::WrittenDocument& d) { rows.add(d.line); }, splitters, recording);
}

struct FitOptions {
  bool fold;
  std::uint64_t min_length;
  std::optional<std::string> builtin_stop_words;  // "english"
  std::vector<std::string> stop_words;
  std::uint64_t min_df;
  double max_df;
  std::uint32_t max_words;
  int n_jobs;
};

// Learns the vocabulary of the texts as punb-vectorize learns it from training documents; with
// `transform`, also their vectors, from the words recorded while counting.
py::tuple fit_text(const py::list& documents, const FitOptions& o, bool transform) {
  if (o.min_length < 1) throw py::value_error("min_length must be 1 or more");
  if (o.min_df < 1) throw py::value_error("min_df must be 1 or more");
  if (!(o.max_df > 0 && o.max_df <= 1)) throw py::value_error("max_df must be above 0, at most 1");
  if (o.max_words < 1 || o.max_words > words::kMaxIndex)
    throw py::value_error("max_words must be from 1 to 499999");
  for (const std::string& w : o.stop_words)
    if (!words::well_formed_utf8(w)) throw py::value_error("a stop word is not UTF-8");
  Texts texts(documents);
  {
    py::gil_scoped_release release;
    texts.encode();
  }
  texts.check(documents);
  auto fitted = std::make_unique<TextWords>();
  fitted->fold = o.fold;
  fitted->min_length = o.min_length;
  Rows rows;
  std::uint64_t seen = 0;
  {
    py::gil_scoped_release release;
    const int threads = static_cast<int>(thread_count(o.n_jobs));
    words::WordSplitter folder(o.fold);
    words::WordSet stop_words;
    words::WordFilter filter{o.fold, o.min_length, nullptr};
    if (o.builtin_stop_words) {
      stop_words = words::load_stop_words(*o.builtin_stop_words, folder);
      filter.stop_words = &stop_words;
    } else if (!o.stop_words.empty()) {
      for (const std::string& w : o.stop_words) words::add_stop_word(stop_words, w, folder);
      filter.stop_words = &stop_words;
    }
    const vectorize::Corpus corpus(texts.views());
    vectorize::WordSplitters splitters(o.fold, threads);
    vectorize::TrainingWords counted = vectorize::count_training_words(
        corpus, 1, filter, threads, splitters, transform ? vectorize::kRecordingLimit : 0);
    const std::uint64_t training = counted.documents[0] + counted.documents[1];
    words::VocabularyCuts cuts;
    const bool recorded = transform && counted.recording.complete;
    fitted->vocabulary = words::select_vocabulary(std::move(counted.words), training,
                                                  {o.min_df, o.max_df, o.max_words}, cuts,
                                                  recorded ? &counted.recording.index_of : nullptr);
    seen = cuts.seen;
    if (transform && !fitted->vocabulary.empty()) {
      // Recorded, each document's distinct words: the pairs, but for those the limits dropped.
      std::size_t pairs = 0;
      for (const auto& words : counted.recording.words) pairs += words.size();
      rows.reserve(texts.views().size(), pairs);
      encode(corpus, filter, fitted->vocabulary, threads, splitters, &counted.recording, rows);
    }
  }
  const std::uint64_t kept = fitted->vocabulary.size();
  return py::make_tuple(std::move(fitted), seen,
                        transform && kept > 0 ? py::object(rows.arrays()) : py::none());
}

py::tuple transform_text(const TextWords& w, const py::list& documents, int n_jobs) {
  Texts texts(documents);
  Rows rows;
  {
    py::gil_scoped_release release;
    texts.encode();
  }
  texts.check(documents);
  {
    py::gil_scoped_release release;
    rows.reserve(texts.views().size(), 0);
    const int threads = static_cast<int>(thread_count(n_jobs));
    const words::WordFilter filter{w.fold, w.min_length, nullptr};
    const vectorize::Corpus corpus(texts.views());
    vectorize::WordSplitters splitters(w.fold, threads);
    encode(corpus, filter, w.vocabulary, threads, splitters, nullptr, rows);
  }
  return rows.arrays();
}

// The words of a pickled vectorizer, with their counts: indices 1..V in order.
std::unique_ptr<TextWords> text_words(const std::vector<std::string>& words,
                                      const std::vector<std::uint64_t>& documents,
                                      const std::vector<std::uint64_t>& occurrences, bool fold,
                                      std::uint64_t min_length) {
  if (documents.size() != words.size() || occurrences.size() != words.size())
    throw py::value_error("a count for every word");
  if (words.size() > words::kMaxIndex) throw py::value_error("at most 499999 words");
  auto w = std::make_unique<TextWords>();
  w->fold = fold;
  w->min_length = min_length;
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (words[k].empty() || !words::well_formed_utf8(words[k]) ||
        words[k].find_first_of("\t\n") != std::string::npos)
      throw py::value_error("word " + std::to_string(k) + " is empty, not UTF-8 or holds a tab");
    w->vocabulary.push_back(
        {static_cast<std::uint32_t>(k + 1), documents[k], occurrences[k], words[k]});
  }
  return w;
}

}  // namespace

void add_text_reading(py::module_& m) {
  py::class_<TextWords>(m, "TextWords")
      .def(py::init(&text_words), py::arg("words"), py::arg("documents"), py::arg("occurrences"),
           py::arg("fold"), py::arg("min_length"))
      .def_property_readonly("words",
                             [](const TextWords& w) {
                               py::list out(w.vocabulary.size());
                               for (std::size_t k = 0; k < w.vocabulary.size(); ++k)
                                 out[k] = py::str(w.vocabulary[k].word);
                               return out;
                             })
      .def_property_readonly("documents",
                             [](const TextWords& w) {
                               std::vector<std::uint64_t> v;
                               for (const auto& e : w.vocabulary) v.push_back(e.documents);
                               return py::array_t<std::uint64_t>(static_cast<py::ssize_t>(v.size()),
                                                                 v.data());
                             })
      .def_property_readonly("occurrences",
                             [](const TextWords& w) {
                               std::vector<std::uint64_t> v;
                               for (const auto& e : w.vocabulary) v.push_back(e.occurrences);
                               return py::array_t<std::uint64_t>(static_cast<py::ssize_t>(v.size()),
                                                                 v.data());
                             })
      .def_readonly("fold", &TextWords::fold)
      .def_readonly("min_length", &TextWords::min_length)
      .def("transform", &transform_text, py::arg("documents"), py::arg("n_jobs"),
           "The documents' vectors as (indptr, indices, data), column j = index j + 1.");

  m.def(
      "fit_text",
      [](const py::list& documents, bool fold, std::uint64_t min_length,
         std::optional<std::string> builtin_stop_words, std::vector<std::string> stop_words,
         std::uint64_t min_df, double max_df, std::uint32_t max_words, int n_jobs, bool transform) {
        return fit_text(documents,
                        {fold, min_length, std::move(builtin_stop_words), std::move(stop_words),
                         min_df, max_df, max_words, n_jobs},
                        transform);
      },
      py::arg("documents"), py::arg("fold"), py::arg("min_length"), py::arg("builtin_stop_words"),
      py::arg("stop_words"), py::arg("min_df"), py::arg("max_df"), py::arg("max_words"),
      py::arg("n_jobs"), py::arg("transform"),
      "Learns the vocabulary of the documents as punb-vectorize does from training documents: "
      "(TextWords, distinct words seen, (indptr, indices, data) or None).");
}

}  // namespace punb::python
