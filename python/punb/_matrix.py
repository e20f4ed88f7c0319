"""What fit and predict are given, as the arrays of compressed sparse rows the core reads."""

import numpy as np
import scipy.sparse as sp

# The element types the core reads in place; anything else is converted or refused there.
_INDEX_TYPES = (np.dtype(np.int32), np.dtype(np.int64))


def csr_arrays(X):
    """(indptr, indices, data, rows, cols) of X.

    A CSR matrix's own arrays are passed as they are: not sorted, not summed, not copied, since
    the stored order of a row's entries is the order punb reads its pairs in. Other sparse
    formats go through SciPy's conversion to CSR (which sums the duplicates of a COO matrix);
    dense arrays are converted by SciPy too, row by row, columns in order.
    """
    if sp.issparse(X):
        if X.format != "csr":
            X = sp.csr_matrix(X)
    else:
        dense = np.asarray(X)
        if dense.ndim != 2:
            raise ValueError(
                f"Expected a two-dimensional X (documents x words), got shape {dense.shape}. "
                "Reshape your data, e.g. with X.reshape(1, -1) for a single document."
            )
        if dense.dtype.kind == "O":
            try:
                dense = dense.astype(np.float64)
            except (TypeError, ValueError):
                pass
        if dense.dtype.kind == "c":
            raise ValueError("Complex data not supported: X must hold whole counts")
        if dense.dtype.kind not in "biuf":
            raise ValueError(f"X holds {dense.dtype} values; it must hold whole counts")
        X = sp.csr_matrix(dense)
    rows, cols = X.shape
    indptr, indices, data = X.indptr, X.indices, X.data
    if indptr.dtype != indices.dtype or indptr.dtype not in _INDEX_TYPES:
        indptr = indptr.astype(np.int64)
        indices = indices.astype(np.int64)
    if data.dtype == np.float16:
        data = data.astype(np.float64)  # exact: every float16 is a float64
    return (
        native(indptr),
        native(indices),
        native(data),
        rows,
        cols,
    )


def native(a):
    """The array itself when it is contiguous in the machine's byte order, else such a copy."""
    a = np.ascontiguousarray(a)
    if not a.dtype.isnative:
        a = a.astype(a.dtype.newbyteorder("="))
    return a
