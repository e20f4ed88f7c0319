"""Model files of the estimator and of the command line are interchangeable: punb-classify
reproduces predict_proba from a model the estimator saved, and load_model reproduces STEM.output
from a model punb kept; pickles carry the same model."""

import os
import pickle
import shutil
import stat
import subprocess

import numpy as np
import pytest

import punb
from corpus import REPO, generate, probability_lines, read_lines, run_punb, tool, write_files

CASES = [
    # mode, options, n_jobs of the fit and of the tools
    ("pu", {}, 1),
    ("pu", dict(spy_fraction=0.25, iterations=5), 2),
    ("nb", {}, 7),
    ("nb", dict(smoothing=0.5), 2),
]


@pytest.fixture(scope="module")
def data():
    return generate(11, large=0.005, zeros=0.05, empty=0.05, duplicates=0.05)


@pytest.mark.parametrize("mode, options, threads", CASES)
def test_punb_classify_reproduces_a_saved_model(tmp_path, data, mode, options, threads):
    X, y, X_test, labels = data
    estimator = punb.PUNaiveBayes(mode=mode, n_jobs=threads, **options).fit(X, y)
    estimator.save_model(tmp_path / "m.model")
    stem = write_files(tmp_path, X, y, X_test, labels)
    subprocess.run([tool("punb-classify"), "m.model", "--labeled", str(stem.with_suffix(".test")),
                    "-o", "classified", "-j", str(threads)],
                   cwd=tmp_path, check=True, capture_output=True, stdin=subprocess.DEVNULL)
    assert (tmp_path / "classified").read_text().splitlines() == probability_lines(
        estimator.predict_proba(X_test)[:, 1]
    )


@pytest.mark.parametrize("mode, options, threads", CASES)
def test_load_model_reproduces_the_command_line(tmp_path, data, mode, options, threads):
    X, y, X_test, labels = data
    stem = write_files(tmp_path, X, y, X_test, labels)
    status, stdout = run_punb(tmp_path, stem, mode, options, threads)
    assert status == 0, stdout
    kept = punb.load_model(str(tmp_path / "c.model"))
    assert kept.get_params() == dict(
        punb.PUNaiveBayes(mode=mode, **options).get_params(), n_jobs=None
    )
    # A command-line model does not know the column count: any count is taken.
    assert not hasattr(kept, "n_features_in_")
    wider = X_test.copy()
    wider.resize(X_test.shape[0], X_test.shape[1] + 5)
    for matrix in (X_test, wider):
        assert probability_lines(kept.predict_proba(matrix)[:, 1]) == (
            stem.with_suffix(".output").read_text().splitlines()
        )


def test_load_model_of_the_example_run(tmp_path):
    # The example corpus, on which punb selects iteration 4, read back from its own files.
    for suffix in (".pos", ".unlabel", ".test"):
        shutil.copy(REPO / "examples" / ("demo" + suffix), tmp_path)
    demo = tmp_path / "demo"
    status, stdout = run_punb(tmp_path, demo, "pu", {}, 2, model="demo.model")
    assert status == 0, stdout
    kept = punb.load_model(tmp_path / "demo.model")
    assert (kept.selected_classifier_, kept.selected_iteration_) == ("Iteration 4", 4)
    assert len(kept.positive_priors_) == len(kept.miss_rates_) == 9
    X_test, _ = read_lines(demo.with_suffix(".test"), labelled=True)
    assert probability_lines(kept.predict_proba(X_test)[:, 1]) == (
        demo.with_suffix(".output").read_text().splitlines()
    )


@pytest.mark.parametrize("mode", ["pu", "nb"])
def test_pickle_and_save_keep_the_model(tmp_path, data, mode):
    X, y, X_test, _ = data
    estimator = punb.PUNaiveBayes(mode=mode, smoothing=0.2, n_jobs=2).fit(X, y)
    estimator.save_model(tmp_path / "m.model")
    pickled = pickle.loads(pickle.dumps(estimator))
    loaded = punb.load_model(tmp_path / "m.model")
    assert pickled.get_params() == estimator.get_params()
    assert loaded.get_params() == dict(estimator.get_params(), n_jobs=None)
    for again in (pickled, loaded):
        np.testing.assert_array_equal(again.predict_proba(X_test), estimator.predict_proba(X_test))
        for name, value in vars(estimator).items():
            if name.endswith("_"):
                np.testing.assert_equal(getattr(again, name), value, err_msg=name)
    unfitted = pickle.loads(pickle.dumps(punb.PUNaiveBayes(mode=mode, iterations=3)))
    assert unfitted.get_params()["iterations"] == 3 and not hasattr(unfitted, "classes_")


def link(tmp_path, name, target):
    (tmp_path / name).symlink_to(target)


# Where save_model's bytes go, as for the command line's files: (setup, the name saved to, the
# link it must still be, the file that must hold the model).
SAVED_THROUGH = [
    ("link to a file", lambda d: ((d / "target").write_text("earlier\n"), link(d, "x", "target")),
     "target", "target"),
    ("link through a folder",
     lambda d: ((d / "sub").mkdir(), (d / "sub" / "real").write_text("earlier\n"),
                link(d, "sub/inner", "real"), link(d, "x", "sub/inner")),
     "sub/inner", "sub/real"),
    ("link to a missing name", lambda d: link(d, "x", "new"), "new", "new"),
]


@pytest.mark.parametrize("case", SAVED_THROUGH, ids=[c[0] for c in SAVED_THROUGH])
def test_save_model_keeps_links(tmp_path, data, case):
    _, setup, link_text, written = case
    X, y, _, _ = data
    estimator = punb.PUNaiveBayes(mode="nb").fit(X, y)
    setup(tmp_path)
    estimator.save_model(tmp_path / "x")
    assert (tmp_path / "x").is_symlink() and os.readlink(tmp_path / "x") == link_text
    assert (tmp_path / written).read_bytes() == estimator._model.to_text()
    assert not [p for p in tmp_path.rglob("*") if ".tmp-" in p.name]


def test_save_model_writes_open_files_in_place_and_keeps_permissions(tmp_path, data):
    X, y, _, _ = data
    estimator = punb.PUNaiveBayes(mode="nb").fit(X, y)
    # As /dev/stdout: a link to an open file of the process.
    with open(tmp_path / "opened", "wb") as opened:
        link(tmp_path, "x", f"/proc/self/fd/{opened.fileno()}")
        estimator.save_model(tmp_path / "x")
    assert (tmp_path / "x").is_symlink()
    assert (tmp_path / "opened").read_bytes() == estimator._model.to_text()
    for mode in (0o600, 0o750):
        (tmp_path / "kept").write_text("earlier\n")
        os.chmod(tmp_path / "kept", mode)
        estimator.save_model(tmp_path / "kept")
        assert stat.S_IMODE(os.stat(tmp_path / "kept").st_mode) == mode
        assert (tmp_path / "kept").read_bytes() == estimator._model.to_text()


def test_info_says_what_zero_spies_and_iterations_did(tmp_path, data):
    # The command line reads -s 0 and -i 0 as its defaults: they must not describe such a model.
    X, y, _, _ = data
    punb.PUNaiveBayes(spy_fraction=0, iterations=0, threshold_rate=0.2).fit(X, y).save_model(
        tmp_path / "m.model")
    info = subprocess.run([tool("punb-classify"), "m.model", "--info"], cwd=tmp_path, check=True,
                          capture_output=True, text=True).stdout
    options = next(line for line in info.splitlines() if line.startswith("options "))
    assert options.split(None, 1)[1] == (
        "-l 0.1 -rt 0.2; spy fraction 0: no spies; iterations 0: no EM iteration, the first "
        "classifier only"
    )
