#!/bin/bash
# Installs a build into a scratch prefix and uses the installed tools from another folder, from
# text to a picture; checks the manual pages and that the Debian package holds exactly the
# installed files.  usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$1 source=$2 version=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
installed=$(cd "$prefix" && find . -type f | sort)
expected="./bin/punb
./bin/punb-classify
./bin/punb-report
./bin/punb-vectorize
./share/doc/punb/LICENSE
./share/doc/punb/README.md
./share/man/man1/punb-classify.1
./share/man/man1/punb-report.1
./share/man/man1/punb-vectorize.1
./share/man/man1/punb.1"
# The MPI programs, when the build made them, go to a package of their own.
mpi_programs=""
for program in punb-mpi punb-classify-mpi; do
  [ -x "$build/$program" ] && mpi_programs="$mpi_programs $program"
done
mpi_files=""
for program in $mpi_programs; do
  mpi_files="$mpi_files ./bin/$program ./share/man/man1/$program.1"
done
mpi_files=$(printf '%s\n' $mpi_files | sort)
[ -n "$mpi_programs" ] && expected=$( (echo "$expected"; echo "$mpi_files") | sort)

# The Python package, when the build made it: under a prefix of its own it goes to
# lib/python3.X/site-packages, as in ~/.local.
python=""
if compgen -G "$build/python/punb/_core*.so" >/dev/null; then
  python=$(sed -n 's/^Python_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")
  x=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  module=$(basename "$build"/python/punb/_core*.so)
  package_files() {
    printf '%s\n' "$1/punb/__init__.py" "$1/punb/$module" "$1/punb/_estimator.py" \
      "$1/punb/_matrix.py" "$1/punb/_text.py" "$1/punb/metrics.py"
  }
  expected=$( (echo "$expected"; package_files "./lib/python$x/site-packages") | sort)
fi
[ "$installed" = "$expected" ] || fail "installed files: $installed"

for tool in punb punb-vectorize punb-report punb-classify $mpi_programs; do
  [ "$("$prefix/bin/$tool" --version)" = "$tool $version" ] || fail "$tool --version"
done
mkdir "$scratch/run"
cd "$scratch/run"
text=$source/examples/text
"$prefix/bin/punb-vectorize" -o demo --pos "$text/train/pos" --unlabel "$text/train/unsup" \
  --test-pos "$text/test/pos" --test-neg "$text/test/neg" 2>/dev/null
"$prefix/bin/punb" -kov -f demo --model demo.model | grep -q "The Final Result" || fail "punb -kov"
"$prefix/bin/punb-classify" demo.model --labeled demo.test -o again.output >/dev/null
cmp -s again.output demo.output || fail "punb-classify does not reproduce demo.output"
if [ -n "$mpi_programs" ] && command -v mpirun >/dev/null; then
  # The installed punb-mpi on two processes leaves what the installed punb left (the leak checker
  # of a sanitized build takes the MPI libraries' blocks for leaks).
  mkdir ../mpi && cp demo.pos demo.unlabel demo.test ../mpi/
  (cd ../mpi && OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 LSAN_OPTIONS=detect_leaks=0 \
    mpirun --oversubscribe -n 2 "$prefix/bin/punb-mpi" -kov -f demo >/dev/null 2>&1) ||
    fail "punb-mpi under mpirun"
  cmp -s ../mpi/demo.output demo.output || fail "punb-mpi does not reproduce demo.output"
fi
[ "$("$prefix/bin/punb-classify" demo.model --text "$text/test/pos" --top 1 | cut -f2)" != "" ] ||
  fail "punb-classify --text"
"$prefix/bin/punb-report" demo >/dev/null
[ -s demo.output ] && [ -s demo.report.svg ] || fail "no result or picture"

if [ -n "$python" ]; then
  # The installed package, away from the build, keeps the posteriors of the installed punb's model.
  PYTHONPATH=$prefix/lib/python$x/site-packages "$python" -c '
import sys, scipy.sparse as sp, punb
assert punb.__file__.startswith(sys.argv[1]), punb.__file__
rows, cols, data = [], [], []
for r, line in enumerate(open("demo.test")):
    for pair in line.split()[1:]:
        i, c = pair.split(":")
        rows.append(r); cols.append(int(i) - 1); data.append(int(c))
X = sp.csr_matrix((data, (rows, cols)), shape=(r + 1, max(cols) + 1))
lines = ["%.16f\n" % p for p in punb.load_model("demo.model").predict_proba(X)[:, 1]]
assert lines == open("demo.output").readlines()
' "$prefix" || fail "the installed Python package"
  # Under /usr it goes where Debian's packages keep theirs, under /usr/local to the folder the
  # machine's Python reads for it.
  for place in /usr:lib/python3/dist-packages "/usr/local:lib/python$x/dist-packages"; do
    DESTDIR=$scratch/dest cmake --install "$build" --prefix "${place%%:*}" >/dev/null
    [ -f "$scratch/dest${place%%:*}/${place#*:}/punb/__init__.py" ] ||
      fail "no Python package in ${place#*:} under ${place%%:*}"
  done
fi

for page in "$prefix"/share/man/man1/*.1; do
  grep -q "punb $version" "$page" || fail "$page: no version"
  warnings=$(groff -man -ww -z "$page" 2>&1) && [ -z "$warnings" ] || fail "$page: $warnings"
  MANPAGER=cat MANWIDTH=80 man -l "$page" | grep -q "^NAME" || fail "$page: man -l"
done

cpack -G DEB -B "$scratch/package" --config "$build/CPackConfig.cmake" >/dev/null
deb=$scratch/package/punb_${version}_amd64.deb
contents() { dpkg-deb -c "$1" | awk '$1 ~ /^-/ { sub("^./usr", ".", $6); print $6 }' | sort; }
packaged=$(contents "$deb")
packaged_expected=$(echo "$expected" | grep -v '/python3\.[0-9]*/site-packages/')
if [ -n "$mpi_programs" ]; then
  mpi_deb=$scratch/package/punb-mpi_${version}_amd64.deb
  [ "$(contents "$mpi_deb")" = "$mpi_files" ] || fail "punb-mpi package files: $(contents "$mpi_deb")"
  dpkg-deb -f "$mpi_deb" Depends | grep -q "libopenmpi" || fail "punb-mpi package dependencies"
  dpkg-deb -f "$deb" Depends | grep -q "mpi" && fail "the punb package depends on MPI"
  packaged_expected=$(echo "$packaged_expected" | grep -v -x -F "$mpi_files")
fi
if [ -n "$python" ]; then
  packaged_expected=$( (echo "$packaged_expected"; package_files ./lib/python3/dist-packages) | sort)
  dpkg-deb -f "$deb" Suggests | grep -q "python3-sklearn" || fail "package suggestions"
fi
[ "$packaged" = "$packaged_expected" ] || fail "package files: $packaged"
dpkg-deb -f "$deb" Depends | grep -q "libicu" || fail "package dependencies"
