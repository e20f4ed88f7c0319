"""The estimator reproduces the command line digit for digit: predict_proba(X_test)[:, 1] written
with %.16f is STEM.output of punb run on files written from the same matrices, and the model it
keeps is the command line's, in both modes, at 1, 2 and 7 threads."""

import functools

import numpy as np
import pytest
import scipy.sparse as sp

import punb
from corpus import generate, probability_lines, run_punb, write_files

CORPORA = {
    # Distinct columns in increasing order: the plainest matrix.
    "plain": dict(seed=1, repeats=False, sort=True),
    # Counts up to 2^31 - 1, explicit zeros, empty and repeated rows, columns repeated within
    # a row and in no order; int64 indices, float64 counts.
    "odd": dict(seed=2, large=0.01, zeros=0.08, empty=0.06, duplicates=0.08,
                index_dtype=np.int64, data_dtype=np.float64),
    # Few positives among many short unlabeled documents, over a wide vocabulary; uint16 counts.
    "skewed": dict(seed=3, pos=30, unlabeled=500, test=80, vocab=3000, words=5, zeros=0.05,
                   data_dtype=np.uint16),
    # Long documents with large counts; int32 counts.
    "long": dict(seed=4, pos=40, unlabeled=120, test=40, vocab=800, words=150, large=0.002,
                 duplicates=0.05, data_dtype=np.int32),
    # Mildly different classes, on which the selection takes an EM iteration.
    "em": dict(seed=2, pos=60, unlabeled=400, words=40, vocab=1000, contrast=2.0),
    # The odd corpus as a dense array, which is read column by column.
    "dense": dict(seed=5, zeros=0.08, empty=0.06, duplicates=0.08, dense=True),
}

OPTIONS = {
    "pu": ("pu", {}),
    "pu_tuned": ("pu", dict(smoothing=0.3, spy_fraction=0.3, threshold_rate=0.25, iterations=3)),
    "pu_long": ("pu", dict(smoothing=0.05, iterations=12)),
    "nb": ("nb", {}),
    "nb_light": ("nb", dict(smoothing=0.02)),
}

THREADS = (1, 2, 7)


@functools.lru_cache(maxsize=None)
def corpus(name):
    settings = dict(CORPORA[name])
    dense = settings.pop("dense", False)
    X, y, X_test, labels = generate(**settings)
    if dense:
        X, X_test = X.toarray(), X_test.toarray()
    return X, y, X_test, labels


def model_lines(text):
    """A model file's lines but its checksum and the column count only Python records."""
    return [line for line in text.splitlines()[:-1] if not line.startswith("feature-columns ")]


@pytest.mark.parametrize("threads", THREADS)
@pytest.mark.parametrize("options", OPTIONS)
@pytest.mark.parametrize("name", CORPORA)
def test_posteriors_and_model_match_the_command_line(tmp_path, name, options, threads):
    X, y, X_test, labels = corpus(name)
    mode, settings = OPTIONS[options]
    stem = write_files(tmp_path, X, y, X_test, labels)
    status, stdout = run_punb(tmp_path, stem, mode, settings, threads)
    assert status == 0, stdout
    estimator = punb.PUNaiveBayes(mode=mode, n_jobs=threads, **settings).fit(X, y)
    assert probability_lines(estimator.predict_proba(X_test)[:, 1]) == (
        stem.with_suffix(".output").read_text().splitlines()
    )
    estimator.save_model(tmp_path / "python.model")
    assert model_lines((tmp_path / "python.model").read_text()) == model_lines(
        (tmp_path / "c.model").read_text()
    )
    kept = punb.load_model(tmp_path / "c.model")
    assert kept.selected_classifier_ == estimator.selected_classifier_
    for attribute in ("selected_iteration_", "n_spies_", "n_reliable_negatives_",
                      "spy_threshold_", "n_positive_documents_", "n_unlabeled_documents_"):
        assert getattr(kept, attribute) == getattr(estimator, attribute), attribute
    np.testing.assert_array_equal(kept.positive_priors_, estimator.positive_priors_)
    np.testing.assert_array_equal(kept.miss_rates_, estimator.miss_rates_)




def test_the_table_reaches_an_em_iteration():
    # Otherwise every comparison above would read the first classifier's posteriors only.
    X, y, _, _ = corpus("em")
    for options in ("pu", "pu_long"):
        assert punb.PUNaiveBayes(**OPTIONS[options][1]).fit(X, y).selected_iteration_ > 0, options


def large(seed, rows, words=125, vocab=5000):
    """Documents drawn all at once, a positive half leaning to other words than the rest."""
    rng = np.random.default_rng(seed)
    truth = rng.random(rows) < 0.5
    n = rng.poisson(words, rows) + 1
    row = np.repeat(np.arange(rows), n)
    cols = (rng.zipf(1.3, len(row)) - 1 + np.where(truth[row], 0, vocab // 3)) % vocab
    x = sp.csr_matrix((rng.geometric(0.55, len(row)), cols, np.r_[0, np.cumsum(n)]),
                      shape=(rows, vocab))
    return x, truth


@pytest.mark.parametrize("mode", ["pu", "nb"])
def test_documents_past_a_block(tmp_path, mode):
    # Over a million pairs in each set: the documents reach the run, and the test documents the
    # scorer, in several blocks, and read as the command line reads them.
    X, truth = large(8, 27000)
    y = (truth & (np.arange(len(truth)) % 3 != 0)).astype(int)
    X_test, test_truth = large(9, 9000)
    assert min(X[y == 1].nnz, X[y == 0].nnz, X_test.nnz) > 1 << 20
    stem = write_files(tmp_path, X, y, X_test, np.where(test_truth, 1, -1))
    status, stdout = run_punb(tmp_path, stem, mode, {"iterations": 2}, 2)
    assert status == 0, stdout
    estimator = punb.PUNaiveBayes(mode=mode, iterations=2, n_jobs=2).fit(X, y)
    assert probability_lines(estimator.predict_proba(X_test)[:, 1]) == (
        stem.with_suffix(".output").read_text().splitlines()
    )
