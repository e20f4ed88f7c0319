// punb._core: punb's exact core over matrices that Python holds. A matrix comes as the three
// arrays of compressed sparse rows (row pointers, column indices, counts), read in place: it is
// checked whole before anything runs, then handed to a mode run a block of documents at a time,
// so the documents are never held twice. Column j is feature index j + 1 of punb's line format,
// a row's entries are read in their stored order and explicit zeros are left out, so a run reads
// exactly what the command line reads from the lines written from the same matrix.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "docfile/docset.h"
#include "docfile/docstore.h"
#include "docfile/fatal.h"
#include "docfile/parse.h"
#include "docfile/staged.h"
#include "docfile/workpool.h"
#include "finalem/purun.h"
#include "module.h"
#include "nb/modelfile.h"
#include "nb/nbrun.h"
#include "nb/passes.h"
#include "nb/score.h"

namespace py = pybind11;

namespace punb::python {

// As the command line's -j; the estimator asks for the default with 0.
unsigned thread_count(int n_jobs) {
  return punb::thread_count(n_jobs <= 0 ? 0 : static_cast<std::uint64_t>(n_jobs));
}

}  // namespace punb::python

namespace {

using punb::python::thread_count;

// The largest column count: column j is index j + 1, and indices end at kIndexCount - 1.
constexpr std::int64_t kMaxColumns = punb::kIndexCount - 1;
// The largest count punb reads (its "number out of range" beyond).
constexpr double kMaxCount = 2147483647.0;
// Documents are handed to a run in blocks of about this many pairs, and scored likewise.
constexpr std::int64_t kBlockPairs = std::int64_t{1} << 20;
// The spy step always runs one round.
constexpr int kSpyStepRounds = 1;

std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

template <class T>
std::string number_text(T v) {
  if constexpr (std::is_floating_point_v<T>) {
    return number_text(static_cast<double>(v));
  } else if constexpr (std::is_same_v<T, bool>) {
    return v ? "1" : "0";
  } else {
    return std::to_string(v);
  }
}

// Why an entry of the matrix is not a count punb reads, or nullptr.
template <class T>
const char* count_fault(T v) {
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(v)) return "count that is NaN or infinite";
    if (v < 0) return "negative count";
    if (v != std::trunc(v)) return "fractional count (the model counts whole words)";
    if (v > kMaxCount) return "number out of range (counts go up to 2147483647)";
  } else if constexpr (!std::is_same_v<T, bool>) {
    if constexpr (std::is_signed_v<T>) {
      if (v < 0) return "negative count";
    }
    if (static_cast<std::uint64_t>(v) > static_cast<std::uint64_t>(kMaxCount))
      return "number out of range (counts go up to 2147483647)";
  }
  return nullptr;
}

// The count of an entry that count_fault accepts.
template <class T>
std::int32_t count_of(T v) {
  return static_cast<std::int32_t>(v);
}

// A one-dimensional array read in place.
struct Column {
  const void* data;
  std::int64_t size;
  py::dtype dtype;
};

Column column(const py::array& a, const char* what) {
  if (a.ndim() != 1) throw py::value_error(std::string(what) + " must be one-dimensional");
  if (a.size() > 1 && a.strides(0) != a.itemsize())
    throw py::value_error(std::string(what) + " must be contiguous");
  const char order = a.dtype().byteorder();
  const char native = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? '<' : '>';
  if (order != '=' && order != '|' && order != native)
    throw py::value_error(std::string(what) + " must be in the machine's byte order");
  return {a.data(), static_cast<std::int64_t>(a.size()), a.dtype()};
}

// Calls f with a null pointer of the array's element type.
template <class F>
decltype(auto) with_number_type(const Column& c, const char* what, F&& f) {
  const char kind = c.dtype.kind();
  const auto size = c.dtype.itemsize();
  if (kind == 'b' && size == 1) return f(static_cast<const bool*>(nullptr));
  if (kind == 'i' && size == 1) return f(static_cast<const std::int8_t*>(nullptr));
  if (kind == 'i' && size == 2) return f(static_cast<const std::int16_t*>(nullptr));
  if (kind == 'i' && size == 4) return f(static_cast<const std::int32_t*>(nullptr));
  if (kind == 'i' && size == 8) return f(static_cast<const std::int64_t*>(nullptr));
  if (kind == 'u' && size == 1) return f(static_cast<const std::uint8_t*>(nullptr));
  if (kind == 'u' && size == 2) return f(static_cast<const std::uint16_t*>(nullptr));
  if (kind == 'u' && size == 4) return f(static_cast<const std::uint32_t*>(nullptr));
  if (kind == 'u' && size == 8) return f(static_cast<const std::uint64_t*>(nullptr));
  if (kind == 'f' && size == 4) return f(static_cast<const float*>(nullptr));
  if (kind == 'f' && size == 8) return f(static_cast<const double*>(nullptr));
  throw py::value_error(std::string(what) + " has dtype " +
                        py::str(static_cast<py::handle>(c.dtype)).cast<std::string>() +
                        "; punb reads booleans, integers, float32 and float64");
}

// A matrix in compressed sparse rows, its arrays read in place.
struct Csr {
  Column indptr;
  Column indices;
  Column data;
  std::int64_t rows;
  std::int64_t cols;

  // Calls f(indptr, indices, data) with the arrays' typed pointers.
  template <class F>
  decltype(auto) visit(F&& f) const {
    const char kind = indptr.dtype.kind();
    const auto size = indptr.dtype.itemsize();
    if (kind != indices.dtype.kind() || size != indices.dtype.itemsize() || kind != 'i' ||
        (size != 4 && size != 8)) {
      throw py::value_error("the row pointers and column indices of X must both be int32 or int64");
    }
    return with_number_type(data, "X", [&](auto typed) {
      using D = std::remove_const_t<std::remove_pointer_t<decltype(typed)>>;
      if (size == 4) return call<std::int32_t, D>(f);
      return call<std::int64_t, D>(f);
    });
  }

 private:
  template <class I, class D, class F>
  decltype(auto) call(F& f) const {
    return f(static_cast<const I*>(indptr.data), static_cast<const I*>(indices.data),
             static_cast<const D*>(data.data));
  }
};

Csr csr(const py::array& indptr, const py::array& indices, const py::array& data, std::int64_t rows,
        std::int64_t cols) {
  return {column(indptr, "the row pointers of X"), column(indices, "the column indices of X"),
          column(data, "X"), rows, cols};
}

// Everything that would make the matrix read as something other than whole counts of columns
// 0 .. cols - 1, or an empty string. Touches no Python object, so it runs without the GIL.
template <class I, class D>
std::string matrix_fault(const Csr& x, const I* indptr, const I* indices, const D* data) {
  if (x.cols == 0) {
    return "X has 0 feature(s) (shape=(" + std::to_string(x.rows) +
           ", 0)) while a minimum of 1 is required.";
  }
  if (x.cols > kMaxColumns) {
    return "X has " + std::to_string(x.cols) +
           " columns; punb reads at most 499999 (column j is feature index j + 1)";
  }
  if (x.indptr.size != x.rows + 1) {
    return "the row pointers of X hold " + std::to_string(x.indptr.size) + " entries for " +
           std::to_string(x.rows) + " rows";
  }
  const std::int64_t stored = std::min(x.indices.size, x.data.size);
  for (std::int64_t r = 0; r < x.rows; ++r) {
    if (indptr[r] < 0 || indptr[r] > indptr[r + 1] || indptr[r + 1] > stored)
      return "the row pointers of X are damaged at row " + std::to_string(r);
  }
  for (std::int64_t r = 0; r < x.rows; ++r) {
    for (I k = indptr[r]; k < indptr[r + 1]; ++k) {
      if (indices[k] < 0 || indices[k] >= x.cols) {
        return "X has a column index " + std::to_string(indices[k]) + " outside 0.." +
               std::to_string(x.cols - 1) + " at row " + std::to_string(r);
      }
      if (const char* fault = count_fault(data[k])) {
        return std::string(fault) + ": " + number_text(data[k]) + " at row " + std::to_string(r) +
               ", column " + std::to_string(indices[k]) + " of X";
      }
    }
  }
  return {};
}

// Checks the whole matrix, raising ValueError on the first fault.
template <class I, class D>
void check_matrix(const Csr& x, const I* indptr, const I* indices, const D* data) {
  std::string fault;
  {
    py::gil_scoped_release release;
    fault = matrix_fault(x, indptr, indices, data);
  }
  if (!fault.empty()) throw py::value_error(fault);
}

// y as one byte a row (1 positive, 0 unlabeled), refusing anything else.
std::vector<std::uint8_t> labels_of(const py::array& y_array, std::int64_t rows,
                                    const std::string& mode) {
  const Column y = column(y_array, "y");
  if (y.size != rows) {
    throw py::value_error("y has " + std::to_string(y.size) + " entries for " +
                          std::to_string(rows) + " rows of X");
  }
  std::vector<std::uint8_t> labels(static_cast<std::size_t>(rows));
  with_number_type(y, "y", [&](auto typed) {
    const auto* v = static_cast<decltype(typed)>(y.data);
    for (std::int64_t r = 0; r < rows; ++r) {
      if (v[r] == 1) {
        labels[static_cast<std::size_t>(r)] = 1;
      } else if (v[r] != 0) {
        throw py::value_error("y must be 1 (a labelled positive) or 0 (unlabeled); row " +
                              std::to_string(r) + " holds " + number_text(v[r]));
      }
    }
  });
  const auto positives = std::count(labels.begin(), labels.end(), 1);
  if (positives == 0)
    throw py::value_error("empty positive set: no row has y = 1" +
                          std::string(rows > 0 ? " (y holds one class only)" : "") +
                          ", so there is no labelled positive");
  // Positive-unlabeled mode may still run on spies alone; the run says why it stops, in the
  // command line's words.
  if (positives == rows && mode == "nb")
    throw py::value_error(
        "empty unlabeled set: no row has y = 0 (y holds one class only), so none is unlabeled");
  return labels;
}

// The rows of X whose label is `want`, in row order, a block at a time.
template <class I, class D>
punb::DocumentSet rows_labelled(const Csr& x, const I* indptr, const I* indices, const D* data,
                                const std::vector<std::uint8_t>& labels, std::uint8_t want,
                                std::string name) {
  auto next = std::make_shared<std::int64_t>(0);
  const std::int64_t rows = x.rows;
  const std::uint8_t* label = labels.data();
  std::size_t words = 0;  // a header per row and a word per stored entry, for the store's room
  for (std::int64_t r = 0; r < rows; ++r) {
    if (label[r] == want) words += 1 + static_cast<std::size_t>(indptr[r + 1] - indptr[r]);
  }
  return punb::DocumentSet::blocks(
      [=](punb::DocStore& block) {
        std::int64_t& r = *next;
        for (std::int64_t pairs = 0; r < rows && pairs < kBlockPairs; ++r) {
          if (label[r] != want) continue;
          block.begin_document();
          for (I k = indptr[r]; k < indptr[r + 1]; ++k) {
            if (data[k] != 0)
              block.add_pair(static_cast<std::int32_t>(indices[k]) + 1, count_of(data[k]));
          }
          block.end_document();
          pairs += indptr[r + 1] - indptr[r];
        }
        return block.documents() > 0;
      },
      std::move(name), words);
}

// A trained classifier: the model file's content, and its vocabulary and logarithms for scoring.
struct Fitted {
  explicit Fitted(punb::SavedModel m)
      : saved(std::move(m)), classifier(std::make_unique<punb::Classifier>(saved)) {}
  punb::SavedModel saved;
  std::unique_ptr<punb::Classifier> classifier;
};

struct Options {
  std::string mode;
  double smoothing;
  double spy_fraction;
  double threshold_rate;
  std::int32_t iterations;
  int n_jobs;
};

std::unique_ptr<Fitted> fit(const py::array& indptr, const py::array& indices,
                            const py::array& data, std::int64_t rows, std::int64_t cols,
                            const py::array& y, const Options& o) {
  // The estimator checks its parameters with messages of its own; these guard the module.
  if (o.mode != "pu" && o.mode != "nb") throw py::value_error("mode must be 'pu' or 'nb'");
  if (!(std::isfinite(o.smoothing) && o.smoothing > 0))
    throw py::value_error("smoothing must be a finite number above 0");
  if (!(o.spy_fraction >= 0 && o.spy_fraction <= 1 && o.threshold_rate >= 0 &&
        o.threshold_rate <= 1))
    throw py::value_error("spy_fraction and threshold_rate must be from 0 to 1");
  if (o.iterations < 0) throw py::value_error("iterations must be 0 or more");
  const Csr x = csr(indptr, indices, data, rows, cols);
  return x.visit([&](auto p, auto i, auto d) {
    check_matrix(x, p, i, d);
    const std::vector<std::uint8_t> labels = labels_of(y, rows, o.mode);
    punb::SavedModel model;
    {
      py::gil_scoped_release release;
      punb::WorkerPool pool(thread_count(o.n_jobs));
      punb::TrainingSets sets{rows_labelled(x, p, i, d, labels, 1, "the rows of y = 1"),
                              rows_labelled(x, p, i, d, labels, 0, "the rows of y = 0")};
      punb::SoloPeers alone;
      model = o.mode == "nb" ? punb::naive_bayes_mode_run(o.smoothing, sets, nullptr, pool, alone)
                             : punb::positive_unlabeled_mode_run(
                                   o.threshold_rate, o.smoothing, o.spy_fraction, kSpyStepRounds,
                                   sets, nullptr, true, o.iterations, pool, alone);
    }
    model.punb_version = PUNB_VERSION;
    model.smoothing_weight = o.smoothing;
    model.spy_fraction = o.spy_fraction;
    model.threshold_rate = o.threshold_rate;
    model.iterations = o.iterations;
    model.feature_columns = cols;
    return std::make_unique<Fitted>(std::move(model));
  });
}

// P(neg) and P(pos) of every row, as punb scores a test document: only the words of the model's
// vocabulary count, in stored order.
py::array_t<double> score(const Fitted& model, const py::array& indptr, const py::array& indices,
                          const py::array& data, std::int64_t rows, std::int64_t cols, int n_jobs) {
  const Csr x = csr(indptr, indices, data, rows, cols);
  py::array_t<double> out({static_cast<py::ssize_t>(rows), py::ssize_t{2}});
  double* o = out.mutable_data();
  x.visit([&](auto p, auto i, auto d) {
    check_matrix(x, p, i, d);
    py::gil_scoped_release release;
    punb::WorkerPool pool(thread_count(n_jobs));
    const punb::VocabularyMask& mask = model.classifier->mask();
    punb::DocStore docs;
    std::vector<punb::Posteriors> post;
    for (std::int64_t first = 0; first < rows;) {
      docs.clear();
      std::int64_t r = first;
      for (std::int64_t pairs = 0; r < rows && pairs < kBlockPairs; ++r) {
        docs.begin_document();
        for (auto k = p[r]; k < p[r + 1]; ++k) {
          const std::int32_t index = static_cast<std::int32_t>(i[k]) + 1;
          if (d[k] != 0 && mask[static_cast<std::size_t>(index)] == 1)
            docs.add_pair(index, count_of(d[k]));
        }
        docs.end_document();
        pairs += p[r + 1] - p[r];
      }
      punb::score_selection(docs, docs.all(), model.classifier->table(), pool, post);
      for (std::size_t k = 0; k < post.size(); ++k) {
        o[2 * (first + static_cast<std::int64_t>(k))] = post[k].neg;
        o[2 * (first + static_cast<std::int64_t>(k)) + 1] = post[k].pos;
      }
      first = r;
    }
  });
  return out;
}

// The model file, with the words a TextVectorizer read its columns from when given, so that
// punb-classify --text reads new text as the vectorizer does.
std::string model_text(const Fitted& f, const punb::python::TextWords* words) {
  if (!words) return punb::format_model_file(f.saved);
  const auto n = static_cast<std::int64_t>(words->vocabulary.size());
  if (f.saved.feature_columns && *f.saved.feature_columns != n) {
    throw py::value_error("the vectorizer has " + std::to_string(n) + " words for the model's " +
                          std::to_string(*f.saved.feature_columns) +
                          " columns: the model was not fitted on its vectors");
  }
  if (n == 0) throw py::value_error("the vectorizer has no words");
  punb::SavedModel saved = f.saved;
  punb::TextVocabulary& text = saved.text.emplace();
  text.folded = words->fold;
  text.min_length = words->min_length;
  for (const punb::words::VocabularyEntry& e : words->vocabulary) {
    text.indices.push_back(e.index);
    text.words.push_back(e.word);
  }
  return punb::format_model_file(saved);
}

// ln P(index | class) for the columns 0 .. cols - 1 (index = column + 1): a row per class,
// negative then positive; NaN for a column outside the model's vocabulary, which scoring skips.
py::array_t<double> log_probabilities(const Fitted& f, std::int64_t cols) {
  py::array_t<double> out({py::ssize_t{2}, static_cast<py::ssize_t>(cols)});
  double* o = out.mutable_data();
  std::fill(o, o + 2 * cols, std::nan(""));
  const punb::SavedModel& m = f.saved;
  for (std::size_t k = 0; k < m.indices.size(); ++k) {
    const std::int64_t column = std::int64_t{m.indices[k]} - 1;
    if (column < 0 || column >= cols) continue;
    o[column] = std::log(m.neg[k]);
    o[cols + column] = std::log(m.pos[k]);
  }
  return out;
}

// A damaged model file raises ValueError; one that cannot be written, OSError.
struct WriteError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "punb's exact core over compressed sparse row matrices";
  m.attr("__version__") = PUNB_VERSION;
  m.attr("MAX_COLUMNS") = kMaxColumns;
  m.attr("MAX_THREADS") = punb::kMaxThreads;

  py::register_exception_translator([](std::exception_ptr e) {
    try {
      if (e) std::rethrow_exception(e);
    } catch (const WriteError& w) {
      PyErr_SetString(PyExc_OSError, w.what());
    } catch (const punb::Fatal& f) {
      // The command line's fixed text first, then the line that explains it.
      PyErr_SetString(PyExc_ValueError, (f.message() + ": " + f.detail()).c_str());
    }
  });

  py::class_<Fitted>(m, "Model")
      .def_static(
          "from_text",
          [](const py::bytes& text, const std::string& name) {
            const std::string content = text;
            punb::SavedModel saved;
            {
              py::gil_scoped_release release;
              saved = punb::parse_model_file(content, name);
            }
            return std::make_unique<Fitted>(std::move(saved));
          },
          py::arg("text"), py::arg("name"), "Reads a model file's text; `name` names it in errors.")
      .def(
          "to_text", [](const Fitted& f) { return py::bytes(punb::format_model_file(f.saved)); },
          "The model file's text.")
      .def(
          "save",
          [](const Fitted& f, const std::string& path, const punb::python::TextWords* words) {
            const std::string text = model_text(f, words);
            try {
              py::gil_scoped_release release;
              punb::replace_file(path, text, punb::kCannotWriteModel);
            } catch (const punb::Fatal& e) {
              throw WriteError(e.message() + ": " + e.detail());
            }
          },
          py::arg("path"), py::arg("words") = nullptr,
          "Writes the model file, whole or not at all, with the words of a TextVectorizer when "
          "given.")
      .def("score", &score, py::arg("indptr"), py::arg("indices"), py::arg("data"), py::arg("rows"),
           py::arg("cols"), py::arg("n_jobs"),
           "P(neg) and P(pos) of every row of a CSR matrix, as an array of shape (rows, 2).")
      .def_property_readonly(
          "mode",
          [](const Fitted& f) { return f.saved.mode == punb::RunMode::naive_bayes ? "nb" : "pu"; })
      .def_property_readonly("punb_version", [](const Fitted& f) { return f.saved.punb_version; })
      .def_property_readonly("smoothing", [](const Fitted& f) { return f.saved.smoothing_weight; })
      .def_property_readonly("spy_fraction", [](const Fitted& f) { return f.saved.spy_fraction; })
      .def_property_readonly("threshold_rate",
                             [](const Fitted& f) { return f.saved.threshold_rate; })
      .def_property_readonly("iterations", [](const Fitted& f) { return f.saved.iterations; })
      .def_property_readonly("selected", [](const Fitted& f) { return f.saved.selected; })
      .def_property_readonly("classifier_name",
                             [](const Fitted& f) { return f.saved.classifier_name(); })
      .def_property_readonly("positive_documents",
                             [](const Fitted& f) { return f.saved.positive_documents; })
      .def_property_readonly("unlabeled_documents",
                             [](const Fitted& f) { return f.saved.unlabeled_documents; })
      .def_property_readonly("spies", [](const Fitted& f) { return f.saved.spies; })
      .def_property_readonly("reliable_negatives",
                             [](const Fitted& f) { return f.saved.reliable_negatives; })
      .def_property_readonly("spy_threshold", [](const Fitted& f) { return f.saved.spy_threshold; })
      .def_property_readonly("positive_priors",
                             [](const Fitted& f) {
                               std::vector<double> v;
                               for (const auto& e : f.saved.sequence) v.push_back(e.positive_prior);
                               return v;
                             })
      .def_property_readonly("miss_rates",
                             [](const Fitted& f) {
                               std::vector<double> v;
                               for (const auto& e : f.saved.sequence) v.push_back(e.miss_rate);
                               return v;
                             })
      .def_property_readonly("feature_columns",
                             [](const Fitted& f) { return f.saved.feature_columns; })
      .def_property_readonly("vocabulary_size",
                             [](const Fitted& f) { return f.saved.indices.size(); })
      .def_property_readonly(
          "largest_index",
          [](const Fitted& f) { return f.saved.indices.empty() ? 0 : f.saved.indices.back(); })
      .def("log_probabilities", &log_probabilities, py::arg("cols"),
           "ln P(index | class) of the columns, rows negative and positive; NaN outside the "
           "vocabulary.")
      .def_property_readonly("log_priors", [](const Fitted& f) {
        return py::make_tuple(std::log(f.saved.priors.neg), std::log(f.saved.priors.pos));
      });

  m.def(
      "fit",
      [](const py::array& indptr, const py::array& indices, const py::array& data,
         std::int64_t rows, std::int64_t cols, const py::array& y, const std::string& mode,
         double smoothing, double spy_fraction, double threshold_rate, std::int32_t iterations,
         int n_jobs) {
        return fit(indptr, indices, data, rows, cols, y,
                   {mode, smoothing, spy_fraction, threshold_rate, iterations, n_jobs});
      },
      py::arg("indptr"), py::arg("indices"), py::arg("data"), py::arg("rows"), py::arg("cols"),
      py::arg("y"), py::arg("mode"), py::arg("smoothing"), py::arg("spy_fraction"),
      py::arg("threshold_rate"), py::arg("iterations"), py::arg("n_jobs"),
      "Trains on the rows of a CSR matrix: y = 1 positive, y = 0 unlabeled, in row order.");
  punb::python::add_text_reading(m);
  punb::python::add_metrics(m);
  m.def("available_cpus", &punb::available_cpus,
        "The CPUs this process may run on (its affinity mask).");
}
