#pragma once

// What the source files of punb._core share.

#include <pybind11/pybind11.h>

#include <cstdint>

#include "words/vocabulary.h"

namespace punb::python {

// The threads for n_jobs: 0 or less, the CPUs this process may run on; at most 256 are used, as
// on the command line.
unsigned thread_count(int n_jobs);

// The vocabulary a TextVectorizer learnt, and how its words were read: what a model file keeps so
// that punb-classify --text reads new text the same way.
struct TextWords {
  words::Vocabulary vocabulary;  // indices 1..V in order
  bool fold = true;
  std::uint64_t min_length = 1;
};

// Adds the text reading (TextWords, fit_text) to the module.
void add_text_reading(pybind11::module_& m);

// Adds the figures without labelled negatives (pu_decision_figures, pu_score_figures,
// corrected_auc).
void add_metrics(pybind11::module_& m);

}  // namespace punb::python
