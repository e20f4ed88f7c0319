"""Figures of a classifier learnt without labelled negatives, with scikit-learn's conventions.

``y`` holds 1 for a known positive that training did not take as one (a held-out positive: best
trained on as an unlabeled document, as ``punb-vectorize --holdout`` does, so that it scores as
the unlabeled positives do) and 0 for another unlabeled document; ``y_pred`` the decisions (1 positive, 0 not) and ``y_score`` the scores (the
posteriors, or any score that ranks the documents). With r the share of the held-out positives
decided positive and q the share of the unlabeled documents decided positive, and under the
assumption that the known positives are a random sample of all positives:

- ``pu_recall_score`` is r, the recall on all positives;
- ``lee_liu_score`` is Lee and Liu's r**2 / q, which ranks classifiers as recall times precision
  does, without the prior;
- ``estimate_prior`` estimates the share of positives among the unlabeled documents, as
  ``punb-report`` does: an upper bound;
- ``pu_precision_score`` is min(1, prior * r / q), ``pu_f1_score`` the F1 of that precision and
  r, ``pu_roc_auc_score`` (A - prior / 2) / (1 - prior) clipped to [0, 1], A the ROC AUC of the
  held-out positives against the unlabeled documents (ties counted half).

Each is the function ``punb-report --unlabeled`` prints, digit for digit; a figure the documents
leave undefined (a share q of 0) is NaN where ``punb-report`` prints ``-``. Bad input raises
ValueError: lengths that differ, values other than 0 and 1, no held-out positive, no unlabeled
document, a score that is not finite, a prior outside (0, 1).
"""

import numbers

import numpy as np
from sklearn.utils.validation import column_or_1d

from . import _core

__all__ = [
    "estimate_prior",
    "lee_liu_score",
    "make_pu_scorer",
    "pu_f1_score",
    "pu_precision_score",
    "pu_recall_score",
    "pu_roc_auc_score",
]


def _groups(y, other, what):
    y = column_or_1d(np.asarray(y))
    other = column_or_1d(np.asarray(other))
    if len(y) != len(other):
        raise ValueError(f"y and {what} differ in length: {len(y)} and {len(other)}")
    if not np.isin(y, (0, 1)).all():
        raise ValueError("y holds values other than 1 (held-out positive) and 0 (unlabeled)")
    held = y == 1
    if not held.any():
        raise ValueError("y holds no held-out positive (1)")
    if held.all():
        raise ValueError("y holds no unlabeled document (0)")
    return held, other


def _prior(prior):
    if (
        isinstance(prior, bool)
        or not isinstance(prior, numbers.Real)
        or not 0 < float(prior) < 1
    ):
        raise ValueError(f"the prior must be a number above 0 and below 1, not {prior!r}")
    return float(prior)


def _decisions(y, y_pred, prior=None):
    held, y_pred = _groups(y, y_pred, "y_pred")
    if not np.isin(y_pred, (0, 1)).all():
        raise ValueError("y_pred holds values other than 1 (positive) and 0")
    called = y_pred == 1
    figures = _core.pu_decision_figures(
        int(held.sum()),
        int((held & called).sum()),
        int((~held).sum()),
        int((~held & called).sum()),
        None if prior is None else _prior(prior),
    )
    return {k: np.nan if v is None else v for k, v in figures.items()}


def _scores(y, y_score):
    held, y_score = _groups(y, y_score, "y_score")
    try:
        y_score = y_score.astype(np.float64)
    except (TypeError, ValueError) as e:
        raise ValueError(f"y_score is not numeric: {e}") from None
    if not np.isfinite(y_score).all():
        raise ValueError("y_score holds a value that is NaN or infinite")
    return _core.pu_score_figures(y_score[held], y_score[~held])


def pu_recall_score(y, y_pred):
    """The share of the held-out positives (``y == 1``) decided positive."""
    return _decisions(y, y_pred)["recall"]


def lee_liu_score(y, y_pred):
    """Lee and Liu's r**2 / q; NaN when no unlabeled document is decided positive."""
    return _decisions(y, y_pred)["lee_liu"]


def estimate_prior(y, y_score):
    """An estimate of the share of positives among the unlabeled documents (``y == 0``).

    The share of the unlabeled documents that score at least as high as the top quarter of the
    held-out positives, over the share of the held-out positives there (a quarter, or more with
    ties), at most 1. The unlabeled documents at those scores hold the prior's share of the
    positives there and some negatives, so the estimate is an upper bound of the prior (but for
    the noise of a small held-out set), and the precision, F1 and ROC AUC computed with it upper
    bounds too.
    """
    return _scores(y, y_score)[1]


def pu_precision_score(y, y_pred, prior):
    """min(1, prior * r / q): the precision on the unlabeled documents; NaN when q is 0."""
    return _decisions(y, y_pred, prior)["precision"]


def pu_f1_score(y, y_pred, prior):
    """The F1 of ``pu_precision_score`` and r (0 when both are 0); NaN when q is 0."""
    return _decisions(y, y_pred, prior)["f1"]


def pu_roc_auc_score(y, y_score, prior):
    """(A - prior / 2) / (1 - prior) clipped to [0, 1]: the ROC AUC of the positives against
    the negatives, from A, that of the held-out positives against the unlabeled documents."""
    prior = _prior(prior)
    return _core.corrected_auc(_scores(y, y_score)[0], prior)


_DECISION_FIGURES = {"recall", "lee_liu", "precision", "f1"}
_SCORERS = sorted(_DECISION_FIGURES | {"roc_auc"})


def _score_of(estimator, X):
    if hasattr(estimator, "predict_proba"):
        return estimator.predict_proba(X)[:, 1]
    return estimator.decision_function(X)


def make_pu_scorer(name, prior=None):
    """A scorer ``scorer(estimator, X, y)`` for ``GridSearchCV`` and ``cross_val_score`` without
    negatives: ``y`` 1 for a known positive, 0 for unlabeled, so that each fold's known positives
    are held-out positives.

    ``name`` is one of "recall", "lee_liu", "precision", "f1" and "roc_auc"; greater is better
    for each. "precision", "f1" and "roc_auc" use ``prior``, or when it is None the estimate of
    ``estimate_prior`` on the fold's scores (``predict_proba``, else ``decision_function``);
    the score is NaN when that estimate is 0 or 1, which leaves nothing to correct with.
    """
    if name not in _SCORERS:
        raise ValueError(f"no such figure {name!r}: one of {', '.join(_SCORERS)}")
    if prior is not None:
        prior = _prior(prior)

    def scorer(estimator, X, y):
        needs_prior = name in ("precision", "f1", "roc_auc")
        fold_prior = prior
        if needs_prior and fold_prior is None:
            fold_prior = estimate_prior(y, _score_of(estimator, X))
            if not 0 < fold_prior < 1:
                return np.nan  # every unlabeled document scores as a positive: no negatives
        if name == "roc_auc":
            return pu_roc_auc_score(y, _score_of(estimator, X), fold_prior)
        figures = _decisions(y, estimator.predict(X), fold_prior if needs_prior else None)
        return figures[name]

    scorer.__name__ = f"pu_{name}_scorer"
    return scorer
