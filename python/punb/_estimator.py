"""The scikit-learn estimator over punb's core, and the model file."""

import math
import numbers
import os

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.utils.validation import check_is_fitted, column_or_1d

from . import _core
from ._matrix import csr_arrays, native
from ._text import TextVectorizer

_INT32_MAX = 2147483647


class PUNaiveBayes(ClassifierMixin, BaseEstimator):
    """Naive Bayes text classifier learnt from positive and unlabeled documents.

    The same exact core as the command-line tool ``punb``: for the same documents and options,
    ``predict_proba(X)[:, 1]`` printed with ``"%.16f"`` is, digit for digit, the ``STEM.output``
    of ``punb`` run on files written from the same matrices, whatever ``n_jobs``.

    Parameters
    ----------
    mode : {"pu", "nb"}, default="pu"
        "pu" is punb's positive-unlabeled mode (``-kov``): spies, reliable negatives and EM
        iterations; "nb" the baseline (``-nb``) that takes every unlabeled document as negative.
    smoothing : float, default=0.1
        The smoothing weight (``-l``), finite and above 0.
    spy_fraction : float, default=0.15
        The share of positive documents hidden as spies (``-s``), 0 to 1.
    threshold_rate : float, default=0.1
        The spy threshold's rate (``-rt``), 0 to 1.
    iterations : int, default=8
        EM iterations (``-i``), 0 or more.
    n_jobs : int or None, default=None
        Threads (``-j``), as the command line reads them: a whole number up to 2**31 - 1, of
        which at most 256 are used; None, -1 or 0: the CPUs this process may run on. The results
        are the same for every value.

    Unlike the command line, which reads a value of 0 as its default, the estimator takes every
    value as it is: ``iterations=0`` runs no EM iteration.

    The input ``X`` (a SciPy sparse matrix, or anything ``numpy.asarray`` or SciPy turns into one)
    holds non-negative whole counts, documents by words; column ``j`` is feature index ``j + 1``
    of punb's line format. ``y`` is 1 for a labelled positive and 0 for unlabeled. A CSR matrix's
    rows are read in their stored order, explicit zeros left out, without copying it.

    Attributes
    ----------
    classes_ : ndarray of shape (2,)
        ``[0, 1]``: unlabeled or negative, and positive.
    n_features_in_ : int
        The number of columns fitted on (absent after ``load_model`` of a command-line model,
        whose column count is not known).
    selected_classifier_ : str
        The classifier kept, as the run names it: ``"Iteration 4"``, ``"Naivebayes Result"``
        (the first classifier of positive-unlabeled mode) or ``"naive Bayes model"``.
    selected_iteration_ : int
        The same as a number: 0 the first classifier, t iteration t (0 in naive Bayes mode).
    positive_priors_ : ndarray of shape (iterations + 1,)
        The estimated positive prior of each classifier of the sequence (first classifier, then
        iterations 1 to T), as the selection read it; empty in naive Bayes mode.
    miss_rates_ : ndarray of shape (iterations + 1,)
        The share of positive training documents each of them classifies as negative; empty in
        naive Bayes mode.
    spy_threshold_ : float or None
        The spies' posterior threshold (None in naive Bayes mode).
    n_spies_ : int or None
        Spies taken from the positive documents (None in naive Bayes mode).
    n_reliable_negatives_ : int or None
        Reliable negatives found among the unlabeled documents (None in naive Bayes mode).
    n_positive_documents_, n_unlabeled_documents_ : int
        The documents of either training set.
    feature_log_prob_ : ndarray of shape (2, n_features_in_)
        ln P(word | class) of the kept classifier, row 0 the negative class and row 1 the
        positive; column j is feature index j + 1. NaN in a column that no training document
        holds: the model has no probability for it and scoring skips it. (A command-line model
        has a column for every index up to its largest; index 0, a word in positive-unlabeled
        mode, has none.)
    class_log_prior_ : ndarray of shape (2,)
        ln P(negative) and ln P(positive).
    """

    def __init__(
        self,
        mode="pu",
        smoothing=0.1,
        spy_fraction=0.15,
        threshold_rate=0.1,
        iterations=8,
        n_jobs=None,
    ):
        self.mode = mode
        self.smoothing = smoothing
        self.spy_fraction = spy_fraction
        self.threshold_rate = threshold_rate
        self.iterations = iterations
        self.n_jobs = n_jobs

    def fit(self, X, y):
        """Learns from documents X: rows with y = 1 are the positive set, rows with y = 0 the
        unlabeled set, each in row order. Raises ValueError with the command line's words where
        the run stops ("no reliable negatives: ...", "degenerate model: ...")."""
        if self.mode not in ("pu", "nb"):
            raise ValueError(f"mode must be 'pu' or 'nb', not {self.mode!r}")
        smoothing = _real(self.smoothing, "smoothing")
        if not (math.isfinite(smoothing) and smoothing > 0):
            raise ValueError(f"smoothing must be a finite number above 0, not {self.smoothing!r}")
        fractions = []
        for name in ("spy_fraction", "threshold_rate"):
            value = _real(getattr(self, name), name)
            if not 0 <= value <= 1:
                raise ValueError(f"{name} must be from 0 to 1, not {value!r}")
            fractions.append(value)
        iterations = self.iterations
        if not _is_integer(iterations) or not 0 <= iterations <= _INT32_MAX:
            raise ValueError(f"iterations must be a whole number from 0 up, not {iterations!r}")
        threads = self._threads()
        indptr, indices, data, rows, cols = csr_arrays(X)
        y = column_or_1d(y, warn=True)
        if y.dtype.kind not in "biuf":
            raise ValueError(f"y must hold 1 (a labelled positive) and 0 (unlabeled), not {y.dtype} values")
        model = _core.fit(
            indptr, indices, data, rows, cols, native(y), self.mode, smoothing,
            fractions[0], fractions[1], int(iterations), threads,
        )
        self._take(model)
        return self

    def predict_proba(self, X):
        """P(negative) and P(positive) of every row of X, as punb scores a test document: only
        the words of the training vocabulary count."""
        check_is_fitted(self, "_model")
        threads = self._threads()
        indptr, indices, data, rows, cols = csr_arrays(X)
        expected = getattr(self, "n_features_in_", None)
        if expected is not None and cols != expected:
            raise ValueError(
                f"X has {cols} features, but {type(self).__name__} is expecting {expected} "
                "features as input"
            )
        return self._model.score(indptr, indices, data, rows, cols, threads)

    def predict(self, X):
        """1 where P(negative) <= P(positive) (a tie is positive, as punb decides), else 0."""
        proba = self.predict_proba(X)
        return self.classes_[(~(proba[:, 0] > proba[:, 1])).astype(np.intp)]

    def decision_function(self, X):
        """P(positive) - P(negative): above 0 exactly where predict gives 1, and increasing with
        P(positive). An exact tie, which punb decides positive, gives the smallest positive
        double instead of 0."""
        proba = self.predict_proba(X)
        d = proba[:, 1] - proba[:, 0]
        d[d == 0] = np.nextafter(0.0, 1.0)
        return d

    def save_model(self, path, vocabulary=None):
        """Writes the command line's model file (``punb --model``), for ``punb-classify`` or
        ``punb.load_model``. It is written under a temporary name and renamed when complete,
        keeping the permission bits of the file it replaces. A symbolic link stays one: the
        file at the end of its links is replaced. A device, a pipe, or anything reached through
        an open file's link (``/dev/stdout``, ``/proc/self/fd/N``) is written in place. Raises
        OSError when it cannot be written.

        ``vocabulary``: the fitted TextVectorizer whose vectors the model was fitted on; its words
        and its way of reading them go into the file, so that ``punb-classify --text`` reads new
        text as ``vectorizer.transform`` does and gives ``predict_proba``'s posteriors."""
        check_is_fitted(self, "_model")
        words = None
        if vocabulary is not None:
            if not isinstance(vocabulary, TextVectorizer):
                raise TypeError(
                    "vocabulary must be a fitted punb.TextVectorizer, whose reading of text "
                    f"punb-classify repeats, not {type(vocabulary).__name__}")
            check_is_fitted(vocabulary, "document_frequencies_")
            words = vocabulary._text_words()
        self._model.save(os.fsencode(path), words)

    def _threads(self):
        """The count the core takes, which caps it as the command line caps -j: 0 asks for the
        CPUs this process may run on."""
        n = self.n_jobs
        if n is None or (_is_integer(n) and n == -1):
            return 0
        if _is_integer(n) and 0 <= n <= _INT32_MAX:
            return int(n)
        raise ValueError(
            f"n_jobs must be None, -1 or a whole number from 0 to {_INT32_MAX}, not {n!r}"
        )

    def _take(self, model):
        """Sets the fitted attributes from a trained model."""
        self._model = model
        self.classes_ = np.array([0, 1])
        if model.feature_columns is not None:
            self.n_features_in_ = model.feature_columns
        elif hasattr(self, "n_features_in_"):
            del self.n_features_in_
        pu = model.mode == "pu"
        self.selected_classifier_ = model.classifier_name
        self.selected_iteration_ = model.selected
        self.positive_priors_ = np.array(model.positive_priors, dtype=np.float64)
        self.miss_rates_ = np.array(model.miss_rates, dtype=np.float64)
        self.spy_threshold_ = model.spy_threshold if pu else None
        self.n_spies_ = model.spies if pu else None
        self.n_reliable_negatives_ = model.reliable_negatives if pu else None
        self.n_positive_documents_ = model.positive_documents
        self.n_unlabeled_documents_ = model.unlabeled_documents
        columns = getattr(self, "n_features_in_", model.largest_index)
        self.feature_log_prob_ = model.log_probabilities(columns)
        self.class_log_prior_ = np.array(model.log_priors, dtype=np.float64)

    # Pickles carry the model file's text, never the core's memory.
    def __getstate__(self):
        state = {k: v for k, v in self.__dict__.items() if not k.endswith("_") and k != "_model"}
        if "_model" in self.__dict__:
            state["_model_text"] = self._model.to_text()
        return state

    def __setstate__(self, state):
        state = dict(state)
        text = state.pop("_model_text", None)
        self.__dict__.update(state)
        if text is not None:
            self._take(_core.Model.from_text(text, "the pickled model"))

    def _more_tags(self):
        return {
            "binary_only": True,
            # X holds word counts: the checks' data are made non-negative whole numbers (as
            # for categorical input) instead of the fractions that fit refuses.
            "requires_positive_X": True,
            "X_types": ["2darray", "categorical"],
            "_xfail_checks": _XFAIL_CHECKS,
        }


# scikit-learn's checks that cannot apply to learning from positive and unlabeled documents:
# they fit data that it refuses.
_LABELS = (
    "fits y of labels 1 and 2: y is 1 for a labelled positive and 0 for unlabeled, and other "
    "labels are refused"
)
_FRACTIONAL = "fits fractional X: the model counts whole words and refuses fractions"
_XFAIL_CHECKS = {
    **dict.fromkeys(
        [
            "check_classifier_data_not_an_array",
            "check_dict_unchanged",
            "check_dont_overwrite_parameters",
            "check_estimator_sparse_data",
            "check_estimators_dtypes",
            "check_estimators_fit_returns_self",
            "check_estimators_overwrite_params",
            "check_estimators_pickle",
            "check_fit2d_predict1d",
            "check_fit_check_is_fitted",
            "check_methods_sample_order_invariance",
            "check_methods_subset_invariance",
            "check_pipeline_consistency",
        ],
        _LABELS,
    ),
    "check_classifiers_classes": "fits string labels: y is 1 for a labelled positive and 0 for "
    "unlabeled",
    "check_classifiers_one_label": _FRACTIONAL,
    "check_decision_proba_consistency": _FRACTIONAL,
    "check_dtype_object": "fits a y without a 1 (its X made whole counts, every label is 0): "
    "there is no labelled positive to learn from",
    "check_classifiers_regression_target": "expects scikit-learn's words for a continuous y; the "
    "refusal here says that y must be 1 or 0",
}


def load_model(path):
    """A fitted PUNaiveBayes from a model file of ``save_model`` or of ``punb --model``.

    A command-line model does not record the column count of its data, so predict_proba then
    takes any number of columns (up to 499,999). Raises OSError when the file cannot be read and
    ValueError when it is not a whole, undamaged model file."""
    with open(path, "rb") as f:
        text = f.read()
    model = _core.Model.from_text(text, os.fsdecode(path))
    estimator = PUNaiveBayes(
        mode=model.mode,
        smoothing=model.smoothing,
        spy_fraction=model.spy_fraction,
        threshold_rate=model.threshold_rate,
        iterations=model.iterations,
    )
    estimator._take(model)
    return estimator


def _is_integer(value):
    return isinstance(value, numbers.Integral) and not isinstance(value, (bool, np.bool_))


def _real(value, name):
    if not isinstance(value, numbers.Real) or isinstance(value, (bool, np.bool_)):
        raise ValueError(f"{name} must be a number, not {value!r}")
    return float(value)

