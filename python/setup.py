"""Builds the extension module punb._core with the repository's own CMake build, whose flags keep
every digit exact (-ffp-contract=off, no fast-math, no link-time optimisation), and installs it
with the package's Python files. It needs the repository around this folder:

    python3 -m venv --system-site-packages VENV && VENV/bin/pip install --no-build-isolation ./python
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent


def version():
    text = (REPO / "CMakeLists.txt").read_text()
    return re.search(r"project\(punb VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        env = dict(os.environ)
        # Flags from the environment could bring contraction or fast-math back in.
        for name in ("CFLAGS", "CXXFLAGS", "CPPFLAGS", "LDFLAGS"):
            env.pop(name, None)
        subprocess.run(
            ["cmake", "-S", str(REPO), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
             f"-DPython_EXECUTABLE={sys.executable}"],
            check=True, env=env,
        )
        subprocess.run(
            ["cmake", "--build", str(build), "--target", "_core", "-j", str(os.cpu_count() or 1)],
            check=True, env=env,
        )
        suffix = self.get_ext_filename("_core")
        built = build / "python" / "punb" / suffix
        if not built.exists():
            raise RuntimeError(f"the build made no {built}: is pybind11-dev installed?")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


if not (REPO / "CMakeLists.txt").exists():
    sys.exit("setup.py builds from the punb repository: run it from the repository's python/ folder")

setup(
    version=version(),
    ext_modules=[Extension("punb._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
