#!/bin/bash
# Runs the commands of the README's section "From positives and unlabeled documents only" with the
# built tools, as written, and compares what they print with the output the README shows.
# usage: readme_path_test.sh BUILD_DIR SOURCE_DIR
set -u
build=$1
cd "$2" || exit 1
fail() { echo "readme_path_test: $*" >&2; exit 1; }

# The first two fenced blocks after the heading: the commands, then what they print.
blocks=$(awk '/^## From positives and unlabeled documents only/ { on = 1 }
  on && /^```/ { n++; next } on && n == 1 { print "C " $0 } on && n == 3 { print "O " $0 }
  n == 4 { exit }' README.md)
commands=$(sed -n 's/^C //p' <<<"$blocks" | sed "s|\$OLDPWD/build/release/|$build/|g; s|build/release/|$build/|g")
expected=$(sed -n 's/^O //p' <<<"$blocks")
[ -n "$commands" ] && [ -n "$expected" ] || fail "no commands or output in the README"
actual=$(bash -e -c "$commands" 2>/dev/null) || fail "the commands failed"
actual=$(sed -n '/^figure /,$p' <<<"$actual")  # punb's own figure lines come first
# The output block leaves out the notes under the table ("..."), which name a scratch folder.
head=$(sed '/^\.\.\.$/,$d' <<<"$expected")
tail=$(sed '1,/^\.\.\.$/d' <<<"$expected")
[ "$(head -n "$(wc -l <<<"$head")" <<<"$actual")" = "$head" ] || fail "table: $actual"
[ "$(tail -n "$(wc -l <<<"$tail")" <<<"$actual")" = "$tail" ] || fail "ranking: $actual"
