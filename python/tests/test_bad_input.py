"""What the estimator refuses, and how: ValueError with a message that says what is wrong (the
command line's words where it stops on the same thing), OSError for files; never a crash or a
number."""

import numpy as np
import pytest
import scipy.sparse as sp
from sklearn.exceptions import NotFittedError

import punb
from corpus import generate, run_punb, write_files

X0, Y0, X0_TEST, LABELS0 = generate(21, pos=30, unlabeled=90, test=10, vocab=60, words=8)


def with_entry(value, dtype, row=3, column=5):
    """X0 with one more stored entry."""
    x = sp.lil_matrix(X0.shape, dtype=dtype)
    x[:, :] = X0.astype(dtype)
    x[row, column] = value
    return x.tocsr()


def damaged(indices=None, indptr=None, first=None):
    x = X0.copy()
    if first is not None:
        x.indptr[0] = first
    if indices is not None:
        x.indices[int(x.indptr[2])] = indices
    if indptr is not None:
        x.indptr[2] = indptr
    return x


def fit(X=None, y=None, **params):
    return lambda: punb.PUNaiveBayes(**params).fit(X0 if X is None else X, Y0 if y is None else y)


def y_with(value, dtype=None):
    y = Y0.astype(dtype or type(value))
    y[4] = value
    return y


FIT = [
    ("negative count", fit(with_entry(-3, np.int64)), "negative count: -3 at row 3, column 5"),
    ("negative float", fit(with_entry(-1.0, np.float64)), "negative count: -1 at row 3"),
    ("fractional", fit(with_entry(0.5, np.float64)), "fractional count (the model counts whole words): 0.5"),
    ("fractional float32", fit(with_entry(2.25, np.float32)), "fractional count"),
    ("nan", fit(with_entry(np.nan, np.float64)), "count that is NaN or infinite: nan"),
    ("inf", fit(with_entry(np.inf, np.float64)), "count that is NaN or infinite: inf"),
    ("beyond 32 bits", fit(with_entry(2147483648, np.int64)), "number out of range (counts go up to 2147483647): 2147483648"),
    ("beyond 32 bits, float", fit(with_entry(3e9, np.float64)), "number out of range"),
    ("beyond 32 bits, uint64", fit(with_entry(2**64 - 1, np.uint64)), "number out of range"),
    ("dense negative", fit(with_entry(-2, np.int32).toarray()), "negative count: -2 at row 3, column 5"),
    ("too many columns", fit(sp.csr_matrix((120, 500000), dtype=np.int64)), "X has 500000 columns; punb reads at most 499999"),
    ("no columns", fit(np.zeros((120, 0))), "X has 0 feature(s) (shape=(120, 0)) while a minimum of 1 is required."),
    ("one-dimensional X", fit(np.ones(120)), "Expected a two-dimensional X (documents x words), got shape (120,). Reshape your data"),
    ("strings in X", fit(np.full((120, 3), "a")), "X holds <U1 values; it must hold whole counts"),
    ("complex X", fit(X0.astype(np.complex128)), "X has dtype complex128"),
    ("column index outside", fit(damaged(indices=60)), "X has a column index 60 outside 0..59 at row 2"),
    ("negative column index", fit(damaged(indices=-1)), "X has a column index -1 outside 0..59"),
    ("row pointers", fit(damaged(indptr=10**6)), "the row pointers of X are damaged at row 1"),
    ("first row pointer", fit(damaged(first=-1)), "the row pointers of X are damaged at row 0"),
    ("y of 2", fit(y=y_with(2)), "y must be 1 (a labelled positive) or 0 (unlabeled); row 4 holds 2"),
    ("y of -1", fit(y=y_with(-1)), "row 4 holds -1"),
    ("y of 0.5", fit(y=y_with(0.5)), "row 4 holds 0.5"),
    ("y of nan", fit(y=y_with(np.nan)), "row 4 holds nan"),
    ("y of strings", fit(y=Y0.astype(str)), "y must hold 1 (a labelled positive) and 0 (unlabeled), not <U21 values"),
    ("y too short", fit(y=Y0[:-1]), "y has 119 entries for 120 rows of X"),
    ("no positive", fit(y=np.zeros_like(Y0)), "empty positive set: no row has y = 1 (y holds one class only)"),
    ("no unlabeled", fit(y=np.ones_like(Y0), mode="nb"), "empty unlabeled set: no row has y = 0"),
    ("mode", fit(mode="kov"), "mode must be 'pu' or 'nb', not 'kov'"),
    ("smoothing 0", fit(smoothing=0), "smoothing must be a finite number above 0, not 0"),
    ("smoothing negative", fit(smoothing=-1.0), "smoothing must be a finite number above 0"),
    ("smoothing nan", fit(smoothing=float("nan")), "smoothing must be a finite number above 0"),
    ("smoothing inf", fit(smoothing=float("inf")), "smoothing must be a finite number above 0"),
    ("smoothing text", fit(smoothing="0.1"), "smoothing must be a number, not '0.1'"),
    ("spy fraction", fit(spy_fraction=1.5), "spy_fraction must be from 0 to 1, not 1.5"),
    ("spy fraction nan", fit(spy_fraction=float("nan")), "spy_fraction must be from 0 to 1"),
    ("threshold rate", fit(threshold_rate=-0.1), "threshold_rate must be from 0 to 1, not -0.1"),
    ("iterations negative", fit(iterations=-1), "iterations must be a whole number from 0 up, not -1"),
    ("iterations fractional", fit(iterations=2.5), "iterations must be a whole number from 0 up, not 2.5"),
    ("iterations bool", fit(iterations=True), "iterations must be a whole number"),
    ("iterations beyond 32 bits", fit(iterations=2**31), "iterations must be a whole number"),
    ("n_jobs -2", fit(n_jobs=-2), "n_jobs must be None, -1 or a whole number from 0 to 2147483647, not -2"),
    ("n_jobs beyond 32 bits", fit(n_jobs=2**31), "not 2147483648"),
    ("n_jobs fractional", fit(n_jobs=1.5), "n_jobs must be None"),
    ("degenerate model", fit(mode="nb", smoothing=5e-324), "degenerate model: "),
]


@pytest.mark.parametrize("case", FIT, ids=[c[0] for c in FIT])
def test_fit_refuses(case):
    _, call, message = case
    with pytest.raises(ValueError) as refused:
        call()
    assert message in str(refused.value)


@pytest.fixture(scope="module")
def fitted():
    return punb.PUNaiveBayes(n_jobs=2).fit(X0, Y0)


PREDICT = [
    ("fewer columns", X0_TEST[:, :-1], "X has 59 features, but PUNaiveBayes is expecting 60 features as input"),
    ("more columns", np.zeros((2, 61)), "X has 61 features, but PUNaiveBayes is expecting 60"),
    ("negative count", -np.ones((2, 60)), "negative count: -1 at row 0, column 0"),
    ("nan", np.full((2, 60), np.nan), "count that is NaN or infinite: nan at row 0"),
    ("fractional", np.full((2, 60), 0.25), "fractional count"),
]


@pytest.mark.parametrize("case", PREDICT, ids=[c[0] for c in PREDICT])
@pytest.mark.parametrize("method", ["predict_proba", "predict", "decision_function"])
def test_predict_refuses(fitted, case, method):
    _, X, message = case
    with pytest.raises(ValueError) as refused:
        getattr(fitted, method)(X)
    assert message in str(refused.value)


def test_unfitted():
    for method in ("predict_proba", "predict", "decision_function"):
        with pytest.raises(NotFittedError):
            getattr(punb.PUNaiveBayes(), method)(X0_TEST)
    with pytest.raises(NotFittedError):
        punb.PUNaiveBayes().save_model("never.model")


def damage(text):
    """Model texts that are not whole, undamaged model files, and what is said of them."""
    lines = text.split(b"\n")
    digit = next(k for k, line in enumerate(lines) if line.startswith(b"prior-negative "))
    changed = lines.copy()
    changed[digit] = changed[digit][:-1] + (b"1" if changed[digit][-1:] != b"1" else b"2")
    return [
        (b"", "the file is empty"),
        (text[: len(text) // 2], "the last line is not the checksum"),
        (b"\n".join(changed), "the checksum does not match: the file is damaged"),
        (b"not a model\n", "not a punb model file"),
    ]


def test_model_files_refused(tmp_path, fitted):
    fitted.save_model(tmp_path / "good.model")
    for k, (text, said) in enumerate(damage((tmp_path / "good.model").read_bytes())):
        (tmp_path / f"bad{k}").write_bytes(text)
        with pytest.raises(ValueError) as refused:
            punb.load_model(tmp_path / f"bad{k}")
        assert str(refused.value).startswith(f"bad model file: {tmp_path}/bad{k}:")
        assert said in str(refused.value)
    with pytest.raises(FileNotFoundError):
        punb.load_model(tmp_path / "missing.model")
    with pytest.raises(IsADirectoryError):
        punb.load_model(tmp_path)
    with pytest.raises(OSError) as refused:
        fitted.save_model(tmp_path / "missing" / "m.model")
    assert str(refused.value).startswith("can not write model file: ")


def resealed(body):
    """A model file's text with the checksum of `body`, as the writer makes it."""
    h = 0xCBF29CE484222325
    for byte in body:
        h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return body + b"checksum fnv1a64 %016x\n" % h


def declaring(text, changes):
    """The model text with the lines that begin with each key replaced, and resealed."""
    lines = text.split(b"\n")[:-2]  # without the checksum line and the final empty piece
    for key, line in changes.items():
        at = next(k for k, old in enumerate(lines) if old.startswith(key))
        lines[at] = line
    return resealed(b"\n".join(lines) + b"\n")


# Counts the file does not hold: refused before anything is sized by them (the first would ask
# for 2^31 entries), with the line that declares them.
COUNTS = [
    ("sequence", {b"iterations ": b"iterations 2147483647", b"sequence ": b"sequence 2147483648"},
     "sequence 2147483648 is more entries than the"),
    ("words", {b"vocabulary-size ": b"vocabulary-size 500000", b"words ": b"words 500000"},
     "words 500000 is more entries than the"),
    ("text vocabulary", {b"text-vocabulary ": b"text-vocabulary 499999 fold yes min-length 1"},
     "text-vocabulary 499999 is more entries than the 0 lines that follow"),
]


@pytest.mark.parametrize("name, changes, said", COUNTS, ids=[c[0] for c in COUNTS])
def test_model_counts_the_file_does_not_hold(tmp_path, fitted, name, changes, said):
    declared_by = said.split(" ")[0].encode() + b" "
    fitted.save_model(tmp_path / "good.model")
    text = (tmp_path / "good.model").read_bytes()
    assert punb.load_model(tmp_path / "good.model").get_params() == dict(
        fitted.get_params(), n_jobs=None
    )
    (tmp_path / "m").write_bytes(declaring(text, changes))
    line = next(k for k, old in enumerate(text.split(b"\n")) if old.startswith(declared_by)) + 1
    with pytest.raises(ValueError) as refused:
        punb.load_model(tmp_path / "m")
    assert str(refused.value).startswith(f"bad model file: {tmp_path}/m:{line}: {said}")


# The corpora on which the command line stops, each with its own message.
STOPS = [
    ("empty positive set", "nb", {}, lambda x, y: (x, np.zeros_like(y))),
    ("empty unlabeled set", "nb", {}, lambda x, y: (x, np.ones_like(y))),
    ("no reliable negatives", "pu", {}, lambda x, y: (x, np.ones_like(y))),
    ("degenerate model", "nb", dict(smoothing=5e-324), lambda x, y: (x, y)),
    ("no positive documents besides the spies", "pu", dict(spy_fraction=1.0), lambda x, y: (x, y)),
    ("no reliable negatives", "pu", {},
     lambda x, y: generate(7, pos=40, unlabeled=300, words=30, contrast=1.3)[:2]),
    ("empty unlabeled set", "pu", dict(spy_fraction=0.005), lambda x, y: (x, np.ones_like(y))),
]


@pytest.mark.parametrize("case", STOPS, ids=[f"{c[0]} ({c[1]})" for c in STOPS])
def test_stops_in_the_command_line_words(tmp_path, case):
    words, mode, options, change = case
    X, y = change(X0, Y0)
    stem = write_files(tmp_path, X, y, X0_TEST, LABELS0)
    status, stdout = run_punb(tmp_path, stem, mode, options, 2)
    assert (status, stdout) == (1, words)
    with pytest.raises(ValueError) as refused:
        punb.PUNaiveBayes(mode=mode, n_jobs=2, **options).fit(X, y)
    assert str(refused.value).startswith(words + ": ")


MODULE = [
    (dict(mode="kov"), "mode must be 'pu' or 'nb'"),
    (dict(smoothing=0.0), "smoothing must be a finite number above 0"),
    (dict(smoothing=float("inf")), "smoothing must be a finite number above 0"),
    (dict(spy_fraction=-0.5), "spy_fraction and threshold_rate must be from 0 to 1"),
    (dict(threshold_rate=float("nan")), "spy_fraction and threshold_rate must be from 0 to 1"),
    (dict(iterations=-1), "iterations must be 0 or more"),
]


@pytest.mark.parametrize("change, message", MODULE, ids=[m for _, m in MODULE])
def test_the_module_guards_its_parameters(change, message):
    # The module checks again what the estimator checks, for callers that skip the estimator.
    from punb import _core

    arguments = dict(indptr=X0.indptr, indices=X0.indices, data=X0.data, rows=X0.shape[0],
                     cols=X0.shape[1], y=Y0, mode="pu", smoothing=0.1, spy_fraction=0.15,
                     threshold_rate=0.1, iterations=8, n_jobs=1)
    _core.fit(**arguments)
    with pytest.raises(ValueError, match=message):
        _core.fit(**dict(arguments, **change))


def strided(a):
    return np.repeat(a, 2)[::2]


ARRAYS = [
    (dict(indices=strided(X0.indices)), "the column indices of X must be contiguous"),
    (dict(data=X0.data.astype(">i8")), "X must be in the machine's byte order"),
    (dict(indptr=X0.indptr.reshape(1, -1)), "the row pointers of X must be one-dimensional"),
    (dict(indptr=X0.indptr.astype(np.int64)), "must both be int32 or int64"),
    (dict(indptr=X0.indptr.astype(np.int16), indices=X0.indices.astype(np.int16)),
     "must both be int32 or int64"),
    (dict(data=X0.data.astype(np.float16)), "X has dtype float16"),
    (dict(y=strided(Y0)), "y must be contiguous"),
    (dict(y=Y0.astype(np.complex64)), "y has dtype complex64"),
]


@pytest.mark.parametrize("change, message", ARRAYS, ids=[m for _, m in ARRAYS])
def test_the_module_reads_only_plain_arrays(change, message):
    # The estimator hands over contiguous arrays of the machine's byte order; the module refuses
    # others rather than misread them.
    from punb import _core

    arguments = dict(indptr=X0.indptr, indices=X0.indices, data=X0.data, rows=X0.shape[0],
                     cols=X0.shape[1], y=Y0, mode="nb", smoothing=0.1, spy_fraction=0.15,
                     threshold_rate=0.1, iterations=8, n_jobs=1)
    with pytest.raises(ValueError) as refused:
        _core.fit(**dict(arguments, **change))
    assert message in str(refused.value)
