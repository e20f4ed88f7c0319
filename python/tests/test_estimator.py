"""The estimator's own behaviour: the forms of input it reads alike, the values it takes
literally, the decision rule, threads."""

import threading
import warnings

import numpy as np
import pytest
import scipy.sparse as sp
from sklearn.exceptions import DataConversionWarning

import punb
from corpus import generate

X, Y, X_TEST, _ = generate(31, zeros=0.05, empty=0.05, duplicates=0.05, sort=True, repeats=False)


def proba(X_fit=X, y=Y, X_score=X_TEST, **params):
    return punb.PUNaiveBayes(**params).fit(X_fit, y).predict_proba(X_score)


@pytest.fixture(scope="module", params=["pu", "nb"])
def reference(request):
    return request.param, proba(mode=request.param)


# Forms of the same documents: each must read exactly as the CSR matrix with sorted columns.
FORMS = {
    "dense": lambda x: x.toarray(),
    "dense float32": lambda x: x.toarray().astype(np.float32),
    "list of lists": lambda x: x.toarray().tolist(),
    "coo": lambda x: x.tocoo(),
    "csc": lambda x: x.tocsc(),
    "csr_array": lambda x: sp.csr_array(x),
    "uint8 counts": lambda x: x.astype(np.uint8),
    "big-endian": lambda x: sp.csr_matrix((x.data.astype(">i8"), x.indices.astype(">i4"), x.indptr.astype(">i4")), shape=x.shape),
    "int64 indices": lambda x: _indices64(x),
    "explicit zeros at the end of rows": lambda x: _with_trailing_zeros(x),
}


def _indices64(x):
    x = x.copy()
    x.indices, x.indptr = x.indices.astype(np.int64), x.indptr.astype(np.int64)
    return x


def _with_trailing_zeros(x):
    rows = [(list(x.indices[x.indptr[r]:x.indptr[r + 1]]) + [0], list(x.data[x.indptr[r]:x.indptr[r + 1]]) + [0])
            for r in range(x.shape[0])]
    indptr = np.cumsum([0] + [len(c) for c, _ in rows])
    return sp.csr_matrix((np.concatenate([d for _, d in rows]), np.concatenate([c for c, _ in rows]), indptr), shape=x.shape)


@pytest.mark.parametrize("form", FORMS)
def test_every_form_reads_alike(reference, form):
    mode, expected = reference
    # Columns sorted and distinct, so that no form's conversion changes the order of the pairs.
    assert X.has_sorted_indices and X_TEST.has_sorted_indices
    np.testing.assert_array_equal(proba(FORMS[form](X), mode=mode), expected)
    np.testing.assert_array_equal(proba(X_score=FORMS[form](X_TEST), mode=mode), expected)


@pytest.mark.parametrize("y", [Y.astype(bool), Y.astype(np.float32), Y.tolist(), Y.reshape(-1, 1)])
def test_forms_of_y(reference, y):
    mode, expected = reference
    if np.ndim(y) == 2:
        with pytest.warns(DataConversionWarning):
            got = proba(y=y, mode=mode)
    else:
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            got = proba(y=y, mode=mode)
    np.testing.assert_array_equal(got, expected)


@pytest.mark.parametrize("n_jobs", [None, -1, 0, 3, 300, 2**31 - 1])
def test_threads_change_nothing(reference, n_jobs):
    mode, expected = reference
    np.testing.assert_array_equal(proba(mode=mode, n_jobs=n_jobs), expected)


def test_fits_in_parallel_threads_agree():
    # The GIL is released while the core works: several fits at once must not disturb each other.
    results = [None] * 4

    def work(k):
        results[k] = proba(mode=("pu", "nb")[k % 2], n_jobs=2)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    np.testing.assert_array_equal(results[0], results[2])
    np.testing.assert_array_equal(results[1], results[3])
    np.testing.assert_array_equal(results[0], proba(mode="pu"))


def test_decisions_follow_the_posteriors(reference):
    mode, _ = reference
    model = punb.PUNaiveBayes(mode=mode).fit(X, Y)
    p = model.predict_proba(X_TEST)
    d = model.decision_function(X_TEST)
    np.testing.assert_array_equal(model.predict(X_TEST), np.where(p[:, 0] <= p[:, 1], 1, 0))
    np.testing.assert_array_equal(d > 0, model.predict(X_TEST) == 1)
    order = np.argsort(p[:, 1], kind="stable")
    assert np.all(np.diff(d[order]) >= 0)
    np.testing.assert_array_equal(model.classes_, [0, 1])


def test_a_tie_is_positive():
    # Rows without a word of the vocabulary score the priors alone: equal priors are a tie.
    X_even = sp.csr_matrix(np.array([[1, 0], [0, 1]]))
    model = punb.PUNaiveBayes(mode="nb").fit(X_even, [1, 0])
    empty = sp.csr_matrix((1, 2), dtype=np.int64)
    p = model.predict_proba(empty)
    assert p[0, 0] == p[0, 1] == 0.5
    assert model.predict(empty)[0] == 1 and model.decision_function(empty)[0] > 0


LITERAL = [
    # Values the command line reads as its defaults run as they are here.
    (dict(iterations=0), lambda m: len(m.positive_priors_) == 1 and m.selected_iteration_ == 0),
    (dict(spy_fraction=0.0), lambda m: m.n_spies_ == 0),
    (dict(threshold_rate=0.0), lambda m: m.n_reliable_negatives_ > 0),
    (dict(threshold_rate=1.0), lambda m: m.n_reliable_negatives_ > 0),
    (dict(iterations=2), lambda m: len(m.positive_priors_) == len(m.miss_rates_) == 3),
]


@pytest.mark.parametrize("params, holds", LITERAL, ids=[str(p) for p, _ in LITERAL])
def test_values_taken_literally(params, holds):
    model = punb.PUNaiveBayes(n_jobs=2, **params).fit(X, Y)
    assert holds(model)
    assert model.get_params()[next(iter(params))] == next(iter(params.values()))
    assert np.isfinite(model.predict_proba(X_TEST)).all()


def test_attributes_of_either_mode():
    pu = punb.PUNaiveBayes().fit(X, Y)
    nb = punb.PUNaiveBayes(mode="nb").fit(X, Y)
    assert pu.n_features_in_ == nb.n_features_in_ == X.shape[1]
    assert pu.n_positive_documents_ == nb.n_positive_documents_ == int(Y.sum())
    assert pu.n_unlabeled_documents_ == nb.n_unlabeled_documents_ == len(Y) - int(Y.sum())
    assert pu.n_spies_ == int(Y.sum() * 0.15)
    assert len(pu.positive_priors_) == len(pu.miss_rates_) == 9
    assert pu.selected_classifier_ == (
        "Naivebayes Result" if pu.selected_iteration_ == 0 else f"Iteration {pu.selected_iteration_}"
    )
    assert (nb.selected_classifier_, nb.selected_iteration_) == ("naive Bayes model", 0)
    assert nb.spy_threshold_ is nb.n_spies_ is nb.n_reliable_negatives_ is None
    assert len(nb.positive_priors_) == len(nb.miss_rates_) == 0
