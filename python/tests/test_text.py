"""TextVectorizer reads text as punb-vectorize does: the same vocabulary file and the same lines
for the same documents, folded or not, on the example posts and on text in many scripts; a model
saved with it gives punb-classify --text the digits of predict_proba."""

import math
import pickle
import random
import subprocess

import numpy as np
import pytest
import scipy.sparse as sp
from sklearn.exceptions import NotFittedError

import punb
from corpus import REPO, probability_lines, read_lines, tool

EXAMPLES = REPO / "examples" / "text"


def posts(folder):
    return sorted((EXAMPLES / folder).glob("*.txt"))


def run(args, cwd):
    done = subprocess.run(args, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr.decode()
    return done


def vocabulary_lines(vectorizer):
    """STEM.vocab as punb-vectorize writes it, from the vectorizer's attributes."""
    names = vectorizer.get_feature_names_out()
    assert list(vectorizer.vocabulary_.values()) == list(range(len(names)))
    return "".join(
        f"{j + 1}\t{d}\t{c}\t{w}\n"
        for j, (w, d, c) in enumerate(zip(names, vectorizer.document_frequencies_,
                                          vectorizer.word_counts_))
    ).encode()


def matrix_lines(X, labels=None):
    """The lines of a CSR matrix of counts, as punb-vectorize writes them (a test line is its
    label alone when it has no word)."""
    out = []
    for r in range(X.shape[0]):
        s, e = X.indptr[r], X.indptr[r + 1]
        assert list(X.indices[s:e]) == sorted(X.indices[s:e])
        pairs = [f"{j + 1}:{c}" for j, c in zip(X.indices[s:e], X.data[s:e])]
        out.append(" ".join(([] if labels is None else [labels[r]]) + pairs) + "\n")
    return "".join(out).encode()


# Words of many scripts and forms: capitals that fold (also beyond ASCII), compatibility forms,
# numbers, contractions, text without spaces, marks and emoji.
PIECES = ["Straße", "STRASSE", "strasse", "Ǆemal", "ＡＢＣ", "abc", "café", "CAFÉ", "naïve",
          "Ωμέγα", "ωμεγα", "Жук", "жук", "中文分词测试", "日本語のテキスト", "ภาษาไทย", "한국어",
          "עברית", "العربية", "हिन्दी", "3.14", "1,000", "don't", "e.g.", "x_y", "😀", "ﬁne",
          "the", "The", "a", "I", "Ⅻ", "①", "\u00a0", "—", "...", "\t", "\n"]


def scripts_corpus(seed, n):
    rng = random.Random(seed)
    texts = []
    for k in range(n):
        words = [rng.choice(PIECES) for _ in range(rng.randint(0, 25))]
        texts.append(" ".join(words) if k % 17 else "")
    return texts


def write_folder(folder, texts):
    folder.mkdir()
    for k, t in enumerate(texts):
        (folder / f"{k:04d}.txt").write_bytes(t if isinstance(t, bytes) else t.encode())


OPTIONS = [
    # TextVectorizer parameters, and punb-vectorize's
    ({}, []),
    (dict(fold=False), ["--no-fold"]),
    (dict(min_length=3, stop_words="english"), ["--min-length", "3", "--stop-words", "english"]),
    (dict(min_df=2, max_df=0.5, max_words=40, n_jobs=3),
     ["--min-df", "2", "--max-df", "0.5", "--max-words", "40", "-j", "3"]),
    (dict(fold=False, stop_words=["The", " garden ", "rOses", "", "Straße"], n_jobs=2),
     ["--no-fold", "--stop-words", "stop.txt"]),
    (dict(stop_words=["The", " garden ", "rOses", "", "Straße"], min_length=2),
     ["--stop-words", "stop.txt", "--min-length", "2"]),
]


def vectorize_both(tmp_path, pos, unlabeled, test, params, flags):
    """punb-vectorize on folders of the texts, and the vectorizer on the same texts in the same
    order: the vectorizer, its matrix of the training texts and of the test texts."""
    for name, texts in (("pos", pos), ("unsup", unlabeled), ("test", test)):
        write_folder(tmp_path / name, texts)
    (tmp_path / "stop.txt").write_text("The\n garden \nrOses\n\nStraße\n")
    run([tool("punb-vectorize"), "-o", "s", "--pos", "pos", "--unlabel", "unsup", "--test-neg",
         "test"] + flags, tmp_path)
    vectorizer = punb.TextVectorizer(**params)
    X = vectorizer.fit_transform(pos + unlabeled)
    return vectorizer, X, vectorizer.transform(test)


@pytest.mark.parametrize("params, flags", OPTIONS)
@pytest.mark.parametrize("corpus", ["example", "scripts"])
def test_the_vocabulary_and_lines_of_punb_vectorize(tmp_path, corpus, params, flags):
    if corpus == "example":
        pos = [p.read_text() for p in posts("train/pos")]
        unlabeled = [p.read_text() for p in posts("train/unsup")]
        test = [p.read_text() for p in posts("test/pos") + posts("test/neg")][::3]
    else:
        pos, unlabeled, test = (scripts_corpus(s, n) for s, n in ((1, 120), (2, 200), (3, 60)))
        # Bytes are read as a file's: ill-formed sequences split words.
        unlabeled[5] = b"caf\xc3 \xff\xfeStra\xc3\x9fe ok\xe2\x82"
    vectorizer, X, X_test = vectorize_both(tmp_path, pos, unlabeled, test, params, flags)
    assert (tmp_path / "s.vocab").read_bytes() == vocabulary_lines(vectorizer)
    assert (tmp_path / "s.pos").read_bytes() == matrix_lines(X[: len(pos)])
    assert (tmp_path / "s.unlabel").read_bytes() == matrix_lines(X[len(pos):])
    assert (tmp_path / "s.test").read_bytes() == matrix_lines(X_test, ["-1"] * len(test))
    assert X.shape == (len(pos) + len(unlabeled), len(vectorizer.vocabulary_))
    assert X.dtype == np.int64 and X.has_sorted_indices
    # fit then transform reads the same; so does every thread count.
    again = punb.TextVectorizer(**dict(params, n_jobs=1)).fit(pos + unlabeled)
    assert list(again.get_feature_names_out()) == list(vectorizer.get_feature_names_out())
    assert (again.transform(pos + unlabeled) != X).nnz == 0


def test_folding_joins_the_forms_of_a_word(tmp_path):
    texts = ["Straße STRASSE strasse", "ＡＢＣ abc ABC", "CAFÉ café", "Жук жук"]
    folded = punb.TextVectorizer().fit(texts)
    kept = punb.TextVectorizer(fold=False).fit(texts)
    assert sorted(folded.vocabulary_) == ["abc", "café", "strasse", "жук"]
    assert folded.document_frequencies_.tolist() == [1, 1, 1, 1]
    assert folded.word_counts_.tolist() == [3, 2, 3, 2]
    assert len(kept.vocabulary_) == 10
    assert folded.n_words_seen_ == 4 and kept.n_words_seen_ == 10


class Text(str):
    pass


def test_str_of_every_width_reads_as_its_utf8_bytes():
    # One byte a character (ASCII, Latin-1), two (Cyrillic, CJK) and four (emoji, math letters).
    texts = ["plain ascii words", "café Straße naïve", "Жук и 中文分词", "😀 𝔘𝔫𝔦𝔠𝔬𝔡𝔢 Ünï",
             "", "mixed café Жук 😀 done"] * 3
    for params in (dict(), dict(fold=False, n_jobs=2)):
        from_str = punb.TextVectorizer(**params)
        X = from_str.fit_transform(texts)
        from_bytes = punb.TextVectorizer(**params)
        Y = from_bytes.fit_transform([t.encode() for t in texts])
        assert list(from_str.get_feature_names_out()) == list(from_bytes.get_feature_names_out())
        assert (X != Y).nnz == 0
        assert (from_str.transform(texts[::-1]) != Y[::-1]).nnz == 0
        # numpy's strings and other subclasses of str are str.
        assert (from_str.transform(np.array(texts)) != Y).nnz == 0
        assert (from_str.transform([Text(t) for t in texts]) != Y).nnz == 0
    assert "𝔘𝔫𝔦𝔠𝔬𝔡𝔢" in from_str.vocabulary_  # as written, four bytes a character


def test_a_model_saved_with_the_vectorizer_reads_text_as_predict_proba(tmp_path):
    pos = [p.read_text() for p in posts("train/pos")]
    unlabeled = [p.read_text() for p in posts("train/unsup")]
    new = sorted((EXAMPLES / "new").iterdir())
    lines = scripts_corpus(9, 30) + [p.read_text().replace("\n", " ") for p in posts("test/pos")]
    (tmp_path / "lines.txt").write_text("".join(t.replace("\n", " ") + "\n" for t in lines))
    for params in (dict(), dict(fold=False, min_length=2, n_jobs=2)):
        vectorizer = punb.TextVectorizer(**params)
        X = vectorizer.fit_transform(pos + unlabeled + scripts_corpus(4, 50))
        y = np.r_[np.ones(len(pos), int), np.zeros(X.shape[0] - len(pos), int)]
        model = punb.PUNaiveBayes(n_jobs=2).fit(X, y)
        model.save_model(tmp_path / "m.model", vocabulary=vectorizer)
        got = run([tool("punb-classify"), "m.model", "--text", str(EXAMPLES / "new"),
                   "lines.txt"], tmp_path).stdout.decode().splitlines()
        texts = [p.read_text() for p in new] + [t.replace("\n", " ") for t in lines]
        want = probability_lines(model.predict_proba(vectorizer.transform(texts))[:, 1])
        assert [g.split("\t")[0] for g in got] == want
        info = run([tool("punb-classify"), "m.model", "--info"], tmp_path).stdout.decode()
        assert f"{len(vectorizer.vocabulary_)}, " + (
            "folded, min-length 1" if not params else "not folded, min-length 2") in info
        # The words come back with the model; their weights are the log ratios of the model's.
        words = run([tool("punb-classify"), "m.model", "--words", "3"], tmp_path).stdout.decode()
        ratio = model.feature_log_prob_[1] - model.feature_log_prob_[0]
        top = vectorizer.get_feature_names_out()[np.argmax(ratio)]
        assert words.splitlines()[0] == "%+.6f\t%s" % (ratio.max(), top)


def test_save_model_refuses_other_vocabularies(tmp_path):
    texts = ["roses and tulips", "the garden", "bread and butter", "a bike ride"]
    vectorizer = punb.TextVectorizer()
    X = vectorizer.fit_transform(texts)
    model = punb.PUNaiveBayes(mode="nb").fit(X, [1, 1, 0, 0])
    with pytest.raises(TypeError, match="TextVectorizer"):
        model.save_model(tmp_path / "m", vocabulary={"roses": 0})
    with pytest.raises(NotFittedError):
        model.save_model(tmp_path / "m", vocabulary=punb.TextVectorizer())
    other = punb.TextVectorizer().fit(texts[:2])
    with pytest.raises(ValueError, match="has 5 words for the model's 10 columns"):
        model.save_model(tmp_path / "m", vocabulary=other)
    assert not (tmp_path / "m").exists()


def test_feature_log_prob_and_class_log_prior_are_the_models(tmp_path):
    rng = np.random.default_rng(3)
    dense = rng.poisson(0.3, size=(120, 30))
    dense[:40, :10] += rng.poisson(0.6, size=(40, 10))  # the positives' own words
    dense[:, 7] = 0  # a column no document holds
    X = sp.csr_matrix(dense)
    y = np.r_[np.ones(40, int), np.zeros(80, int)]
    for mode in ("nb", "pu"):
        model = punb.PUNaiveBayes(mode=mode).fit(X, y)
        assert model.feature_log_prob_.shape == (2, 30)
        assert np.isnan(model.feature_log_prob_[:, 7]).all()
        assert np.isfinite(np.delete(model.feature_log_prob_, 7, axis=1)).all()
        model.save_model(tmp_path / "m")
        text = (tmp_path / "m").read_text().splitlines()
        start = next(k for k, line in enumerate(text) if line.startswith("words "))
        for line in text[start + 1:start + 1 + int(text[start].split()[1])]:
            index, neg, pos = line.split()
            assert model.feature_log_prob_[0, int(index) - 1] == math.log(float(neg))
            assert model.feature_log_prob_[1, int(index) - 1] == math.log(float(pos))
        priors = {line.split()[0]: float(line.split()[1]) for line in text
                  if line.startswith("prior-")}
        assert model.class_log_prior_.tolist() == [math.log(priors["prior-negative"]),
                                                   math.log(priors["prior-positive"])]
        # The log-odds of a document is the priors' log ratio plus its counts times the words'
        # log ratios (up to the rounding of the scorer's sums).
        p = model.predict_proba(X)
        ratio = np.nan_to_num(model.feature_log_prob_[1] - model.feature_log_prob_[0])
        log_odds = model.class_log_prior_[1] - model.class_log_prior_[0] + X @ ratio
        np.testing.assert_allclose(log_odds, np.log(p[:, 1]) - np.log(p[:, 0]), rtol=1e-9,
                                   atol=1e-9)
        # Pickles and model files give them back.
        for again in (pickle.loads(pickle.dumps(model)), punb.load_model(tmp_path / "m")):
            np.testing.assert_array_equal(again.feature_log_prob_, model.feature_log_prob_)
            np.testing.assert_array_equal(again.class_log_prior_, model.class_log_prior_)


def test_a_command_line_model_has_a_column_per_index_up_to_its_largest(tmp_path):
    (tmp_path / "c.pos").write_text("2:1 5:3\n2:2\n")
    (tmp_path / "c.unlabel").write_text("3:1 5:1\n3:4\n")
    (tmp_path / "c.test").write_text("1 2:1\n")
    run([tool("punb"), "-nb", "-f", "c", "--model", "c.model"], tmp_path)
    model = punb.load_model(tmp_path / "c.model")
    assert model.feature_log_prob_.shape == (2, 5)
    assert np.isnan(model.feature_log_prob_[:, [0, 3]]).all()
    assert np.isfinite(model.feature_log_prob_[:, [1, 2, 4]]).all()
    X_test, _ = read_lines(tmp_path / "c.test", labelled=True, cols=5)
    assert probability_lines(model.predict_proba(X_test)[:, 1]) == (
        (tmp_path / "c.output").read_text().splitlines())


def test_pickles_carry_the_words():
    texts = scripts_corpus(5, 80)
    vectorizer = punb.TextVectorizer(fold=False, min_df=2).fit(texts)
    again = pickle.loads(pickle.dumps(vectorizer))
    assert again.get_params() == vectorizer.get_params()
    assert again.vocabulary_ == vectorizer.vocabulary_
    assert (again.transform(texts) != vectorizer.transform(texts)).nnz == 0
    assert again.transform(texts).shape == (80, len(vectorizer.vocabulary_))
    assert again.transform([]).shape == (0, len(vectorizer.vocabulary_))


BAD = [
    (dict(fold="yes"), ValueError, "fold"),
    (dict(min_length=0), ValueError, "min_length"),
    (dict(min_df=0), ValueError, "min_df"),
    (dict(max_df=0.0), ValueError, "max_df"),
    (dict(max_df=2), ValueError, "max_df"),
    (dict(max_words=500000), ValueError, "max_words"),
    (dict(stop_words="french"), ValueError, "stop_words"),
    (dict(stop_words=["a", 3]), ValueError, "stop_words"),
    (dict(stop_words=["a", "\ud800"]), ValueError, r"stop word '\\ud800'"),
    (dict(n_jobs=0), ValueError, "n_jobs"),
]


@pytest.mark.parametrize("params, error, message", BAD)
def test_refuses_bad_parameters(params, error, message):
    with pytest.raises(error, match=message):
        punb.TextVectorizer(**params).fit(["some text"])


def test_refuses_what_is_not_documents():
    with pytest.raises(ValueError, match="iterable of documents"):
        punb.TextVectorizer().fit("a single text")
    with pytest.raises(TypeError, match="document 1 is a int"):
        punb.TextVectorizer().fit(["text", 3])
    with pytest.raises(ValueError, match="no documents"):
        punb.TextVectorizer().fit([])
    with pytest.raises(ValueError, match="hold no word"):
        punb.TextVectorizer(stop_words="english").fit(["the and of", "... !"])
    with pytest.raises(ValueError, match="none is within the limits"):
        punb.TextVectorizer(min_df=3).fit(["roses", "tulips"])
    with pytest.raises(NotFittedError):
        punb.TextVectorizer().transform(["text"])
    with pytest.raises(UnicodeEncodeError):
        punb.TextVectorizer().fit(["lone \ud800 surrogate"])
    # A generator is taken as the list of its documents.
    vectorizer = punb.TextVectorizer()
    assert vectorizer.fit_transform(t for t in ["a b", "b c"]).shape == (2, 3)
