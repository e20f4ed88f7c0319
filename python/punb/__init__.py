"""punb from Python: a scikit-learn estimator over punb's exact core.

    >>> import punb
    >>> model = punb.PUNaiveBayes().fit(X, y)      # y: 1 labelled positive, 0 unlabeled
    >>> model.predict_proba(X_new)[:, 1]           # P(positive), as punb's STEM.output
    >>> model.save_model("model.punb")             # for punb-classify, or punb.load_model

Text is read as punb-vectorize reads it by TextVectorizer:

    >>> vectorizer = punb.TextVectorizer()
    >>> X = vectorizer.fit_transform(texts)        # the vocabulary and lines of punb-vectorize
    >>> model.fit(X, y).save_model("m", vocabulary=vectorizer)   # punb-classify m --text ...

Figures without labelled negatives, from held-out positives (y = 1) and unlabeled documents
(y = 0), are in punb.metrics (pu_f1_score, estimate_prior, make_pu_scorer, ...).
"""

from . import metrics
from ._core import __version__
from ._estimator import PUNaiveBayes, load_model
from ._text import TextVectorizer

__all__ = ["PUNaiveBayes", "TextVectorizer", "load_model", "metrics", "__version__"]
