"""punb.metrics: each figure against its formula worked out here, the digits punb-report prints
for the same posteriors, figures close to the truth of a corpus that knows it, and bad input."""

import subprocess

import numpy as np
import pytest
import scipy.sparse as sp
from sklearn.model_selection import GridSearchCV

import punb
from corpus import generate, run_punb, tool, write_files
from punb import metrics as m


def pairwise_auc(pos, unl):
    return ((pos[:, None] > unl[None, :]) + 0.5 * (pos[:, None] == unl[None, :])).mean()


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_figures_are_their_formulas(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(5, 60))
    y = rng.permutation(np.r_[np.ones(n, int), np.zeros(4 * n, int)])
    score = np.round(rng.random(len(y)) * (1 + y), 1) / 2  # ties; positives higher
    pred = (1 - score <= score).astype(int)
    r, q, prior = pred[y == 1].mean(), pred[y == 0].mean(), 0.2 + 0.1 * seed
    p = min(1, prior * r / q)
    assert m.pu_recall_score(y, pred) == pytest.approx(r, abs=1e-15)
    assert m.lee_liu_score(y, pred) == pytest.approx(r * r / q, abs=1e-15)
    assert m.pu_precision_score(y, pred, prior) == pytest.approx(p, abs=1e-15)
    assert m.pu_f1_score(y, pred, prior) == pytest.approx(2 * p * r / (p + r), abs=1e-15)
    auc = pairwise_auc(score[y == 1], score[y == 0])
    corrected = min(1, max(0, (auc - prior / 2) / (1 - prior)))
    assert m.pu_roc_auc_score(y, score, prior) == pytest.approx(corrected, abs=1e-15)
    at = np.sort(score[y == 1])[::-1][(n + 3) // 4 - 1]
    ratio = (score[y == 0] >= at).mean() / (score[y == 1] >= at).mean()
    assert m.estimate_prior(y, score) == pytest.approx(min(1, ratio), abs=1e-15)
    nothing = np.zeros_like(pred)
    assert np.isnan(m.lee_liu_score(y, nothing)) and np.isnan(m.pu_f1_score(y, nothing, 0.5))


def test_the_digits_of_punb_report(tmp_path):
    X, y, X_test, labels = generate(41, pos=120, unlabeled=400, test=300)
    stem = write_files(tmp_path, X, y, X_test, labels)
    assert run_punb(tmp_path, stem.name, "pu", {}, 1)[0] == 0
    posteriors = np.loadtxt(stem.with_suffix(".output"))
    # The unlabeled documents: the negatives and every other positive.
    held = posteriors[labels == 1]
    unl = posteriors[(labels == -1) | (np.arange(len(labels)) % 2 == 0)]
    (tmp_path / "u.txt").write_text("".join("%.16f\n" % p for p in unl))
    report = subprocess.run([tool("punb-report"), stem.name, "--unlabeled", "u.txt", "--tsv"],
                            cwd=tmp_path, capture_output=True, text=True, check=True).stdout
    printed = dict(line.split("\t")[:2] for line in report.splitlines()[1:])
    yy = np.r_[np.ones(len(held), int), np.zeros(len(unl), int)]
    score = np.r_[held, unl]
    pred = (1 - score <= score).astype(int)
    prior = m.estimate_prior(yy, score)
    ours = {"recall": m.pu_recall_score(yy, pred), "lee_liu": m.lee_liu_score(yy, pred),
            "prior_estimated": prior, "precision": m.pu_precision_score(yy, pred, prior),
            "f1": m.pu_f1_score(yy, pred, prior), "roc_auc": m.pu_roc_auc_score(yy, score, prior)}
    assert {k: "%.16f" % v for k, v in ours.items()} == {k: printed[k] for k in ours}


def test_close_to_the_truth_of_a_known_corpus():
    # The test matrix, whose labels are known, is the unlabeled set; a quarter of the positives
    # are held out.
    X, y, unlabeled, labels = generate(5, pos=1200, unlabeled=0, test=4000, contrast=3.0)
    positives = X[y == 1]
    held, kept = positives[:300], positives[300:]
    model = punb.PUNaiveBayes().fit(sp.vstack([kept, unlabeled]),
                                    np.r_[np.ones(kept.shape[0], int), np.zeros(4000, int)])
    score = np.r_[model.predict_proba(held)[:, 1], model.predict_proba(unlabeled)[:, 1]]
    yy = np.r_[np.ones(300, int), np.zeros(4000, int)]
    truth = labels == 1
    decided = model.predict(unlabeled) == 1
    precision, recall = (truth & decided).sum() / decided.sum(), (truth & decided).sum() / truth.sum()
    prior = truth.mean()
    assert m.pu_f1_score(yy, (1 - score <= score).astype(int), prior) == pytest.approx(
        2 * precision * recall / (precision + recall), abs=0.05)
    assert m.pu_roc_auc_score(yy, score, prior) == pytest.approx(
        pairwise_auc(score[300:][truth], score[300:][~truth]), abs=0.06)
    assert 0.8 * prior <= m.estimate_prior(yy, score) <= 2.5 * prior


def test_a_scorer_for_grid_search_without_negatives():
    X, y, _, _ = generate(8, pos=150, unlabeled=450)
    search = GridSearchCV(punb.PUNaiveBayes(), {"smoothing": [0.05, 1.0]}, cv=3,
                          scoring=m.make_pu_scorer("f1")).fit(X, y)
    model, score = search.best_estimator_, search.best_estimator_.predict_proba(X)[:, 1]
    f1 = m.pu_f1_score(y, model.predict(X), m.estimate_prior(y, score))
    assert m.make_pu_scorer("f1")(model, X, y) == f1 and np.isfinite(search.best_score_)
    assert m.make_pu_scorer("roc_auc", prior=0.3)(model, X, y) == m.pu_roc_auc_score(y, score, 0.3)


Y, PRED = np.array([1, 0, 0, 1]), np.array([1, 1, 0, 0])
BAD = {
    "lengths differ": lambda: m.pu_recall_score(Y, PRED[:3]),
    "labels not 0 and 1": lambda: m.pu_recall_score(np.array([1, 0, 2, 1]), PRED),
    "decisions not 0 and 1": lambda: m.lee_liu_score(Y, np.array([1, 0.5, 0, 0])),
    "no held-out positive": lambda: m.pu_recall_score(np.zeros(4, int), PRED),
    "no unlabeled document": lambda: m.pu_recall_score(np.ones(4, int), PRED),
    "prior 0": lambda: m.pu_precision_score(Y, PRED, 0),
    "prior 1": lambda: m.pu_f1_score(Y, PRED, 1.0),
    "prior nan": lambda: m.pu_roc_auc_score(Y, PRED, float("nan")),
    "score nan": lambda: m.estimate_prior(Y, np.array([0.5, np.nan, 0.1, 0.2])),
    "score not numeric": lambda: m.estimate_prior(Y, np.array(["a", "b", "c", "d"])),
    "no such scorer": lambda: m.make_pu_scorer("accuracy"),
}


@pytest.mark.parametrize("case", BAD)
def test_bad_input_raises_value_error(case):
    with pytest.raises(ValueError):
        BAD[case]()
