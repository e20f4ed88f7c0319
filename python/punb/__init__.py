"""punb from Python: a scikit-learn estimator over punb's exact core.

    >>> import punb
    >>> model = punb.PUNaiveBayes().fit(X, y)      # y: 1 labelled positive, 0 unlabeled
    >>> model.predict_proba(X_new)[:, 1]           # P(positive), as punb's STEM.output
    >>> model.save_model("model.punb")             # for punb-classify, or punb.load_model
"""

from ._core import __version__
from ._estimator import PUNaiveBayes, load_model

__all__ = ["PUNaiveBayes", "load_model", "__version__"]
