#!/bin/sh
# Installs the build into a temporary prefix, checks that the links of the
# installed documentation lead to installed files, and runs the installed
# programs on a copy of the installed example folder with the installed
# answer file.
# Usage: install_test.sh CMAKE BUILD_DIR VERSION
set -u
cmake=$1 build=$2 version=$3

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
doc=$prefix/share/doc/varnalo

if ! "$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log" >&2
  echo "FAILED: cmake --install" >&2
  exit 1
fi

for file in bin/Varnalo bin/VarnaloNM share/man/man1/Varnalo.1 share/man/man1/VarnaloNM.1 \
    share/doc/varnalo/README.md share/doc/varnalo/examples/README.md \
    share/doc/varnalo/examples/answers.txt share/doc/varnalo/examples/DATA/ROTENONE.TXT \
    share/doc/varnalo/examples/DATA/BEETLE.TXT share/doc/varnalo/doc/images/SIGMOID001.PNG \
    share/doc/varnalo/doc/images/LINEAR001.PNG; do
  [ -s "$prefix/$file" ] || fail "not installed: $file"
done
# Every relative link of the installed documentation leads to an installed file.
. "$(dirname "$0")/doc_links.sh"
broken=$(doc_links_broken "$doc")
[ -z "$broken" ] || fail "links of the installed documentation lead nowhere:
$broken"
for program in Varnalo VarnaloNM; do
  [ -x "$prefix/bin/$program" ] || fail "not executable: bin/$program"
done
# Only the example folder's own files are installed, never output left in it.
extra=$(cd "$doc/examples" && find . -type f | sort | tr '\n' ' ')
[ "$extra" = "./DATA/BEETLE.TXT ./DATA/ROTENONE.TXT ./README.md ./answers.txt " ] ||
  fail "the installed example folder holds: $extra"
[ "$failures" -eq 0 ] || exit 1

# A fresh, writable working folder made from the installed example folder.
new_workdir() {
  rm -rf "$tmp/work"
  cp -R "$doc/examples" "$tmp/work" && chmod -R u+w "$tmp/work"
}

for program in Varnalo VarnaloNM; do
  bin=$prefix/bin/$program

  # The example analysis, scripted by the installed answer file.
  new_workdir || exit 1
  (cd "$tmp/work" && "$bin" <answers.txt >screen.txt 2>errors.txt)
  status=$?
  [ "$status" -eq 0 ] || fail "$program < answers.txt: status $status: $(cat "$tmp/work/errors.txt")"
  [ -s "$tmp/work/errors.txt" ] && fail "$program wrote to the error stream: $(cat "$tmp/work/errors.txt")"
  grep -qxF "*** Varnalo ver.$version ***" "$tmp/work/REPORT.TXT" 2>/dev/null ||
    fail "$program: REPORT.TXT missing or without its heading"
  grep -q 'ROTENONE$' "$tmp/work/REPORT.TXT" 2>/dev/null || fail "$program: REPORT.TXT names no preparation"
  for output in TABLE.TXT SIGMOID.TXT LINEAR.TXT; do
    [ -s "$tmp/work/$output" ] || fail "$program: $output not written"
  done

  # An unknown option is a usage error: status 2, two lines, no dialogue.
  new_workdir || exit 1
  (cd "$tmp/work" && "$bin" --frobnicate extra <answers.txt >screen.txt 2>errors.txt)
  status=$?
  [ "$status" -eq 2 ] || fail "$program --frobnicate: status $status, not 2"
  [ -s "$tmp/work/screen.txt" ] && fail "$program --frobnicate: the dialogue started"
  [ "$(wc -l <"$tmp/work/errors.txt")" -eq 2 ] || fail "$program --frobnicate: not two error lines"
  [ -e "$tmp/work/REPORT.TXT" ] && fail "$program --frobnicate: REPORT.TXT written"

  # Data files on the command line: the whole analysis, no dialogue.
  new_workdir || exit 1
  (cd "$tmp/work" && "$bin" --quiet ROTENONE </dev/null >screen.txt 2>errors.txt)
  status=$?
  [ "$status" -eq 0 ] || fail "$program ROTENONE: status $status: $(cat "$tmp/work/errors.txt")"
  [ -s "$tmp/work/screen.txt" ] && fail "$program --quiet ROTENONE wrote to the screen"
  grep -q 'ROTENONE$' "$tmp/work/REPORT.TXT" 2>/dev/null || fail "$program ROTENONE: no report"
  for output in ANALYSIS001.JSON EDS001.CSV ESTIMATES001.CSV; do
    [ -s "$tmp/work/$output" ] || fail "$program ROTENONE: $output not written"
  done

  # --version and --help answer at once and leave standard input unread.
  for option in --version --help; do
    new_workdir || exit 1
    rest=$(cd "$tmp/work" && { "$bin" $option >out.txt 2>errors.txt; echo "status $?"; cat; } <answers.txt)
    [ "$rest" = "status 0
$(cat "$doc/examples/answers.txt")" ] || fail "$program $option: status or standard input touched: $rest"
    [ -s "$tmp/work/errors.txt" ] && fail "$program $option wrote to the error stream"
    [ -e "$tmp/work/REPORT.TXT" ] && fail "$program $option started the dialogue"
    cp "$tmp/work/out.txt" "$tmp/$program$option.txt"
  done
  [ "$(cat "$tmp/$program--version.txt")" = "$program $version" ] ||
    fail "$program --version printed: $(cat "$tmp/$program--version.txt")"
  grep -q "^Usage: $program " "$tmp/$program--help.txt" || fail "$program --help: no usage line"
  for needed in DATA/NAME.TXT 'standard' REPORT.TXT TABLE.TXT SIGMOID.TXT LINEAR.TXT "man $program"; do
    grep -q "$needed" "$tmp/$program--help.txt" || fail "$program --help does not mention $needed"
  done

  # A failed write of the answer is reported and ends with status 1.
  if [ -w /dev/full ]; then
    "$bin" --help >/dev/full 2>"$tmp/errors.txt"
    status=$?
    [ "$status" -eq 1 ] || fail "$program --help >/dev/full: status $status"
    grep -q "^$program: cannot write to standard output" "$tmp/errors.txt" ||
      fail "$program --help >/dev/full: no message"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed programs, manual pages and example folder: all checks passed"
