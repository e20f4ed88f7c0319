"""Generated document matrices with odd counts, the built command-line tools, and punb's files
written from the matrices."""

import os
import pathlib
import subprocess

import numpy as np
import scipy.sparse as sp

REPO = pathlib.Path(__file__).resolve().parents[2]


def tool(name):
    """The built tool: from the environment (ctest sets it), else the test build's."""
    variable = {"punb": "PUNB_BINARY", "punb-classify": "PUNB_CLASSIFY_BINARY",
                "punb-vectorize": "PUNB_VECTORIZE_BINARY", "punb-report": "PUNB_REPORT_BINARY"}[name]
    path = os.environ.get(variable) or str(REPO / "build" / "test" / name)
    if not os.access(path, os.X_OK):
        raise RuntimeError(f"{path} is not built; set {variable} to the built {name}")
    return path


def generate(seed, *, pos=80, unlabeled=300, test=60, vocab=400, words=14, large=0.0,
             zeros=0.0, empty=0.0, duplicates=0.0, repeats=True, sort=False,
             contrast=5.0, index_dtype=np.int32, data_dtype=np.int64):
    """Training matrix, its y, test matrix and its labels (1 / -1).

    Positive documents favour some words, negative ones others; a third of the unlabeled
    documents are positive. `large`, `zeros` and `empty` are the shares of entries with counts
    from 2^20 up to 2^31 - 1, of explicit zeros and of rows without entries; `duplicates` the
    share of rows that are copies of earlier rows. Entries are stored in the order drawn (a
    column may come back within a row) unless `repeats` is off (distinct columns) or `sort` on.
    """
    rng = np.random.default_rng(seed)
    ranks = np.arange(1, vocab + 1, dtype=np.float64)
    base = 1.0 / ranks**1.1
    lean = rng.random(vocab)
    weights = {True: base * np.where(lean < 0.3, contrast, 1.0), False: base * np.where(lean > 0.7, contrast, 1.0)}
    for k in weights:
        weights[k] /= weights[k].sum()

    def matrix(classes):
        rows = []
        for positive in classes:
            n = 0 if rng.random() < empty else 1 + rng.poisson(words)
            cols = rng.choice(vocab, size=n, p=weights[bool(positive)], replace=repeats or n > vocab)
            if not repeats:
                cols = rng.permutation(np.unique(cols))
            if sort:
                cols = np.sort(cols)
            counts = rng.geometric(0.55, size=len(cols)).astype(np.int64)
            counts[rng.random(len(cols)) < zeros] = 0
            big = rng.random(len(cols)) < large
            counts[big] = rng.integers(1 << 20, 2147483647, size=int(big.sum()), endpoint=True)
            rows.append((cols, counts))
        for r in range(1, len(rows)):
            if rng.random() < duplicates:
                rows[r] = rows[int(rng.integers(0, r))]
        indptr = np.zeros(len(rows) + 1, dtype=np.int64)
        indptr[1:] = np.cumsum([len(c) for c, _ in rows])
        indices = np.concatenate([c for c, _ in rows] + [np.zeros(0, np.int64)])
        data = np.concatenate([d for _, d in rows] + [np.zeros(0, np.int64)])
        x = sp.csr_matrix((data.astype(data_dtype), indices.astype(index_dtype),
                           indptr.astype(index_dtype)), shape=(len(rows), vocab))
        # SciPy may narrow the index arrays: the dtype asked for is put back.
        x.indices = indices.astype(index_dtype)
        x.indptr = indptr.astype(index_dtype)
        return x

    y = np.concatenate([np.ones(pos, np.int64), np.zeros(unlabeled, np.int64)])
    truth = np.concatenate([np.ones(pos, bool), rng.random(unlabeled) < 1 / 3])
    order = rng.permutation(pos + unlabeled)  # positives and unlabeled rows interleaved
    y, truth = y[order], truth[order]
    test_truth = rng.random(test) < 0.4
    return matrix(truth), y, matrix(test_truth), np.where(test_truth, 1, -1)


def rows_as_lines(X, labels=None):
    """punb's lines of the rows of X: index = column + 1, pairs in stored order, zeros left out;
    a dense X is read column by column."""
    if not sp.issparse(X):
        X = [[(j, c) for j, c in enumerate(row) if c != 0] for row in np.asarray(X).tolist()]
    else:
        indptr, indices, data = X.indptr.tolist(), X.indices.tolist(), X.data.tolist()
        X = [zip(indices[s:e], data[s:e]) for s, e in zip(indptr, indptr[1:])]
    out = []
    for r, entries in enumerate(X):
        pairs = ["%d:%d" % (j + 1, c) for j, c in entries if c != 0]
        out.append(" ".join(([] if labels is None else [str(labels[r])]) + pairs) + "\n")
    return "".join(out)


def write_files(directory, X, y, X_test, test_labels, stem="c"):
    """STEM.pos, STEM.unlabel and STEM.test in `directory`; returns the stem's path."""
    y = np.asarray(y)
    select = (lambda m, keep: m[keep]) if sp.issparse(X) else (lambda m, keep: m[keep, :])
    base = pathlib.Path(directory) / stem
    base.with_suffix(".pos").write_text(rows_as_lines(select(X, y == 1)))
    base.with_suffix(".unlabel").write_text(rows_as_lines(select(X, y == 0)))
    base.with_suffix(".test").write_text(rows_as_lines(X_test, test_labels))
    return base


def run_punb(directory, stem, mode, options, threads, model="c.model"):
    """punb's run on the files of `stem` in `directory`: (status, stdout)."""
    flags = {"smoothing": "-l", "spy_fraction": "-s", "threshold_rate": "-rt", "iterations": "-i"}
    args = [tool("punb"), "-kov" if mode == "pu" else "-nb", "-f", str(stem), "-j", str(threads),
            "--model", model]
    for name, value in options.items():
        args += [flags[name], repr(value)]
    done = subprocess.run(args, cwd=directory, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=120)
    return done.returncode, done.stdout


def probability_lines(p):
    """Posteriors as punb writes them."""
    return ["%.16f" % v for v in p]


def read_lines(path, labelled=False, cols=None):
    """A file of plain punb lines (pairs index:count) as a CSR matrix, column = index - 1, and
    the labels of test lines."""
    indptr, indices, data, labels = [0], [], [], []
    for line in pathlib.Path(path).read_text().splitlines():
        fields = line.split()
        if labelled:
            labels.append(int(fields.pop(0)))
        for pair in fields:
            index, count = pair.split(":")
            indices.append(int(index) - 1)
            data.append(int(count))
        indptr.append(len(indices))
    cols = cols if cols is not None else max(indices, default=-1) + 1
    X = sp.csr_matrix((np.array(data, np.int64), np.array(indices, np.int64),
                       np.array(indptr, np.int64)), shape=(len(indptr) - 1, cols))
    return X, np.array(labels)
