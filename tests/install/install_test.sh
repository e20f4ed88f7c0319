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
[ "$installed" = "$expected" ] || fail "installed files: $installed"

for tool in punb punb-vectorize punb-report punb-classify; do
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
[ "$("$prefix/bin/punb-classify" demo.model --text "$text/test/pos" --top 1 | cut -f2)" != "" ] ||
  fail "punb-classify --text"
"$prefix/bin/punb-report" demo >/dev/null
[ -s demo.output ] && [ -s demo.report.svg ] || fail "no result or picture"

for page in "$prefix"/share/man/man1/*.1; do
  grep -q "punb $version" "$page" || fail "$page: no version"
  warnings=$(groff -man -ww -z "$page" 2>&1) && [ -z "$warnings" ] || fail "$page: $warnings"
  MANPAGER=cat MANWIDTH=80 man -l "$page" | grep -q "^NAME" || fail "$page: man -l"
done

cpack -G DEB -B "$scratch/package" --config "$build/CPackConfig.cmake" >/dev/null
deb=$scratch/package/punb_${version}_amd64.deb
packaged=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { sub("^./usr", ".", $6); print $6 }' | sort)
[ "$packaged" = "$expected" ] || fail "package files: $packaged"
dpkg-deb -f "$deb" Depends | grep -q "libicu" || fail "package dependencies"
