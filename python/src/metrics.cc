// The figures without labelled negatives, for punb.metrics: the very functions punb-report
// prints, so that both give the same digits.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "module.h"
#include "report/pu_figures.h"

namespace py = pybind11;

namespace punb::python {

namespace {

py::object optional_float(std::optional<double> v) {
  return v ? py::object(py::float_(*v)) : py::object(py::none());
}

using Scores = py::array_t<double, py::array::c_style | py::array::forcecast>;

}  // namespace

void add_metrics(py::module_& m) {
  m.def(
      "pu_decision_figures",
      [](std::int64_t positives, std::int64_t positives_called, std::int64_t unlabeled,
         std::int64_t unlabeled_called, std::optional<double> prior) {
        const report::PuCounts c{positives, positives_called, unlabeled, unlabeled_called};
        py::dict f;
        f["recall"] = optional_float(report::pu_recall(c));
        f["share"] = optional_float(report::positive_share(c));
        f["lee_liu"] = optional_float(report::lee_liu(c));
        if (prior) {
          f["precision"] = optional_float(report::pu_precision(c, *prior));
          f["f1"] = optional_float(report::pu_f1(c, *prior));
        }
        return f;
      },
      py::arg("positives"), py::arg("positives_called"), py::arg("unlabeled"),
      py::arg("unlabeled_called"), py::arg("prior") = py::none(),
      "punb-report's figures of decisions: held-out positives and unlabeled documents, and of "
      "them those decided positive.");
  m.def(
      "pu_score_figures",
      [](const Scores& positives, const Scores& unlabeled) {
        std::vector<double> scores(positives.data(), positives.data() + positives.size());
        scores.insert(scores.end(), unlabeled.data(), unlabeled.data() + unlabeled.size());
        std::vector<bool> held(scores.size(), false);
        for (py::ssize_t i = 0; i < positives.size(); ++i) held[static_cast<std::size_t>(i)] = true;
        std::optional<double> auc, prior;
        {
          py::gil_scoped_release release;
          const report::Ranking r = report::rank_documents(scores, held);
          auc = report::roc_auc(r);
          if (const std::optional<report::PriorEstimate> e = report::estimate_prior(r))
            prior = std::min(1.0, e->value);
        }
        return py::make_tuple(optional_float(auc), optional_float(prior));
      },
      py::arg("positives"), py::arg("unlabeled"),
      "The ROC AUC of the held-out positives' scores against the unlabeled documents' and "
      "punb-report's estimate of the prior, each None when undefined.");
  m.def("corrected_auc", &report::corrected_auc, py::arg("auc"), py::arg("prior"),
        "(auc - prior / 2) / (1 - prior), clipped to [0, 1].");
}

}  // namespace punb::python
