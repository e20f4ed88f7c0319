"""punb-vectorize's reading of text as a scikit-learn transformer."""

import numbers

import numpy as np
import scipy.sparse as sp
from sklearn.base import BaseEstimator, TransformerMixin
from sklearn.utils.validation import check_is_fitted

from . import _core

_MAX_WORDS = 499999


class TextVectorizer(TransformerMixin, BaseEstimator):
    """Word counts of texts, read exactly as ``punb-vectorize`` reads them.

    Words are found by ICU's Unicode word segmentation (with its dictionaries for scripts written
    without spaces) and, unless ``fold=False``, folded one by one with NFKC_Casefold. For the same
    documents in the same order, the vocabulary is that of ``punb-vectorize``'s ``STEM.vocab``
    (indices 1..V by decreasing document frequency, ties in byte order of the word) and row k of
    ``fit_transform`` is line k of its files: column ``j`` is index ``j + 1``, the counts of a
    row in increasing column order. The result is the same for every ``n_jobs``.

    Parameters
    ----------
    fold : bool, default=True
        Fold words with NFKC_Casefold (``--no-fold`` turns it off).
    min_length : int, default=1
        Leave out words of fewer code points (``--min-length``).
    stop_words : None, "english" or list of str, default=None
        Words left out (``--stop-words``), folded as the text is; "english" is
        ``punb-vectorize``'s built-in list of common English function words.
    min_df : int, default=1
        Keep words found in at least this many documents (``--min-df``).
    max_df : float, default=1.0
        Leave out words found in more than this fraction of the documents, above 0 and at most
        1 (``--max-df``).
    max_words : int or None, default=None
        Keep this many words of highest document frequency, at most 499,999 (``--max-words``);
        None: 499,999.
    n_jobs : int or None, default=None
        Threads (``-j``); None or -1: the CPUs this process may run on.

    The documents are ``str`` (or ``bytes`` of UTF-8, whose ill-formed sequences read as
    U+FFFD, as in a file). Each is one document, as a file in a folder is for
    ``punb-vectorize``; it is read whatever it holds (``punb-vectorize`` skips a file with a NUL
    byte in its first 8 kB).

    Attributes
    ----------
    vocabulary_ : dict
        Word to column.
    document_frequencies_ : ndarray of shape (n_words,)
        Per column, the documents of the fit that hold the word (``STEM.vocab``'s second field).
    word_counts_ : ndarray of shape (n_words,)
        Per column, the word's occurrences in the documents of the fit (its third field).
    n_words_seen_ : int
        The distinct words of the fit before the limits.
    """

    def __init__(
        self,
        fold=True,
        min_length=1,
        stop_words=None,
        min_df=1,
        max_df=1.0,
        max_words=None,
        n_jobs=None,
    ):
        self.fold = fold
        self.min_length = min_length
        self.stop_words = stop_words
        self.min_df = min_df
        self.max_df = max_df
        self.max_words = max_words
        self.n_jobs = n_jobs

    def fit(self, raw_documents, y=None):
        """Learns the vocabulary of the documents."""
        self._fit(raw_documents, transform=False)
        return self

    def fit_transform(self, raw_documents, y=None):
        """Learns the vocabulary and returns the documents' counts as a CSR matrix; the text is
        read once."""
        return self._fit(raw_documents, transform=True)

    def transform(self, raw_documents):
        """The documents' counts of the vocabulary's words, as a CSR matrix of shape
        (n_documents, n_words); other words are left out."""
        check_is_fitted(self, "document_frequencies_")
        documents = _documents(raw_documents)
        return self._matrix(self._text_words().transform(documents, self._threads()),
                            len(documents))

    def get_feature_names_out(self, input_features=None):
        """The words, in column order."""
        check_is_fitted(self, "document_frequencies_")
        return np.array(self._text_words().words, dtype=object)

    def _fit(self, raw_documents, transform):
        options = self._options()
        documents = _documents(raw_documents)
        if not documents:
            raise ValueError("no documents to learn a vocabulary from")
        words, seen, arrays = _core.fit_text(documents, n_jobs=self._threads(),
                                             transform=transform, **options)
        if not words.words:
            raise ValueError(
                f"empty vocabulary: of the {seen} distinct words read, none is within the "
                "limits (min_df, max_df, max_words)" if seen else
                "empty vocabulary: the documents hold no word (after stop_words and min_length)")
        self._take(words, seen)
        return self._matrix(arrays, len(documents)) if transform else None

    @property
    def vocabulary_(self):
        """Word to column; made when first asked for, since the words themselves are kept by
        the core."""
        if self.__dict__.get("_vocabulary") is None:
            if "document_frequencies_" not in self.__dict__:
                raise AttributeError("vocabulary_: the vectorizer is not fitted")
            self._vocabulary = {w: j for j, w in enumerate(self._text_words().words)}
        return self._vocabulary

    def _take(self, words, seen):
        self._words = words
        self._vocabulary = None
        self._reading = (words.fold, words.min_length)
        self.document_frequencies_ = words.documents.astype(np.int64)
        self.word_counts_ = words.occurrences.astype(np.int64)
        self.n_words_seen_ = seen

    def _matrix(self, arrays, rows):
        indptr, indices, data = arrays
        return sp.csr_matrix((data, indices, indptr),
                             shape=(rows, len(self.document_frequencies_)))

    def _text_words(self):
        """The fitted words as the core reads them (rebuilt after unpickling)."""
        if self.__dict__.get("_words") is None:
            self._words = _core.TextWords(
                self._word_list, self.document_frequencies_.astype(np.uint64),
                self.word_counts_.astype(np.uint64), *self._reading)
            del self._word_list
        return self._words

    def _options(self):
        if not isinstance(self.fold, (bool, np.bool_)):
            raise ValueError(f"fold must be True or False, not {self.fold!r}")
        min_length = _whole(self.min_length, "min_length", 1, 2**63 - 1)
        min_df = _whole(self.min_df, "min_df", 1, 2**63 - 1)
        max_df = self.max_df
        if (not isinstance(max_df, numbers.Real) or isinstance(max_df, (bool, np.bool_))
                or not 0 < max_df <= 1):
            raise ValueError(f"max_df must be a fraction above 0 and at most 1, not {max_df!r}")
        max_words = (_MAX_WORDS if self.max_words is None
                     else _whole(self.max_words, "max_words", 1, _MAX_WORDS))
        builtin, listed = None, []
        if isinstance(self.stop_words, str):
            if self.stop_words != "english":
                raise ValueError(
                    f"stop_words must be None, 'english' or a list of words, not {self.stop_words!r}")
            builtin = "english"
        elif self.stop_words is not None:
            listed = list(self.stop_words)
            if not all(isinstance(w, str) for w in listed):
                raise ValueError("stop_words must hold str")
            for w in listed:
                try:
                    w.encode("utf-8")
                except UnicodeEncodeError as e:
                    raise ValueError(f"stop word {w!r} is not text: {e.reason}") from None
        return dict(fold=bool(self.fold), min_length=min_length, builtin_stop_words=builtin,
                    stop_words=listed, min_df=min_df, max_df=float(max_df), max_words=max_words)

    def _threads(self):
        n = self.n_jobs
        if n is None or (_is_integer(n) and n == -1):
            return 0
        if _is_integer(n) and n >= 1:
            return int(min(n, 256))
        raise ValueError(f"n_jobs must be None, -1 or a whole number from 1 up, not {n!r}")

    # Pickles carry the words and their counts, never the core's memory.
    def __getstate__(self):
        state = dict(self.__dict__)
        state.pop("_vocabulary", None)
        if state.pop("_words", None) is not None:
            state["_word_list"] = self._words.words
        return state

    def __setstate__(self, state):
        self.__dict__.update(state)
        self._words = None
        self._vocabulary = None

    def _more_tags(self):
        return {"X_types": ["string"], "preserves_dtype": []}


def _documents(raw_documents):
    if isinstance(raw_documents, (str, bytes)):
        raise ValueError("an iterable of documents is expected, not a single str or bytes")
    return list(raw_documents)


def _is_integer(value):
    return isinstance(value, numbers.Integral) and not isinstance(value, (bool, np.bool_))


def _whole(value, name, low, high):
    if not _is_integer(value) or not low <= value <= high:
        raise ValueError(f"{name} must be a whole number from {low} to {high}, not {value!r}")
    return int(value)
