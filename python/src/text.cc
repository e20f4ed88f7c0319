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

// The texts of a Python list as UTF-8 views, valid while this lives: a str of ASCII is read in
// place, another str through a UTF-8 copy kept here (not the copy Python would cache in the str
// for good), bytes as they are.
class Texts {
 public:
  explicit Texts(const py::list& documents) {
    views_.reserve(documents.size());
    for (std::size_t k = 0; k < documents.size(); ++k) {
      PyObject* o = documents[k].ptr();
      Py_ssize_t size = 0;
      const char* data = nullptr;
      if (PyUnicode_Check(o)) {
        if (PyUnicode_IS_COMPACT_ASCII(o)) {
          data = PyUnicode_AsUTF8AndSize(o, &size);
        } else {
          py::object utf8 = py::reinterpret_steal<py::object>(PyUnicode_AsUTF8String(o));
          if (!utf8) throw py::error_already_set();
          char* bytes = nullptr;
          PyBytes_AsStringAndSize(utf8.ptr(), &bytes, &size);
          data = bytes;
          copies_.push_back(std::move(utf8));
        }
        if (!data) throw py::error_already_set();
      } else if (PyBytes_Check(o)) {
        char* bytes = nullptr;
        PyBytes_AsStringAndSize(o, &bytes, &size);
        data = bytes;
      } else {
        throw py::type_error("document " + std::to_string(k) + " is a " +
                             std::string(Py_TYPE(o)->tp_name) +
                             "; the documents are str (or bytes of UTF-8)");
      }
      views_.emplace_back(data, static_cast<std::size_t>(size));
    }
  }

  std::span<const std::string_view> views() const { return views_; }

 private:
  std::vector<std::string_view> views_;
  std::vector<py::object> copies_;
};

// The documents' vectors as compressed sparse rows, column = index - 1, collected from the lines
// the passes write.
struct Rows {
  std::vector<std::int64_t> indptr{0};
  std::vector<std::int32_t> indices;
  std::vector<std::int64_t> data;

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

  // (indptr, indices, data): the two index arrays int32 when they fit, else both int64.
  py::tuple arrays() const {
    py::array_t<std::int64_t> counts(static_cast<py::ssize_t>(data.size()), data.data());
    if (indices.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      py::array_t<std::int32_t> pointers(static_cast<py::ssize_t>(indptr.size()));
      std::int32_t* out = pointers.mutable_data();
      for (std::size_t r = 0; r < indptr.size(); ++r) out[r] = static_cast<std::int32_t>(indptr[r]);
      return py::make_tuple(
          pointers,
          py::array_t<std::int32_t>(static_cast<py::ssize_t>(indices.size()), indices.data()),
          counts);
    }
    py::array_t<std::int64_t> wide(static_cast<py::ssize_t>(indices.size()));
    std::copy(indices.begin(), indices.end(), wide.mutable_data());
    return py::make_tuple(
        py::array_t<std::int64_t>(static_cast<py::ssize_t>(indptr.size()), indptr.data()), wide,
        counts);
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
  const Texts texts(documents);
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
    if (transform && !fitted->vocabulary.empty())
      encode(corpus, filter, fitted->vocabulary, threads, splitters, &counted.recording, rows);
  }
  const std::uint64_t kept = fitted->vocabulary.size();
  return py::make_tuple(std::move(fitted), seen,
                        transform && kept > 0 ? py::object(rows.arrays()) : py::none());
}

py::tuple transform_text(const TextWords& w, const py::list& documents, int n_jobs) {
  const Texts texts(documents);
  Rows rows;
  {
    py::gil_scoped_release release;
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
