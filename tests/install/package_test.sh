#!/bin/sh
# Makes the Debian package with cpack in a temporary folder and checks its
# control fields and contents, and that the packaged program runs.
# Usage: package_test.sh CPACK BUILD_DIR VERSION
# Exits 77 (skipped) when the Debian packaging tools are missing.
set -u
cpack=$1 build=$2 version=$3

for tool in dpkg-deb dpkg-shlibdeps file strip gzip; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool is not installed (Debian: dpkg-dev, file, binutils)"
    exit 77
  fi
done

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$tmp" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log" >&2
  echo "FAILED: cpack -G DEB" >&2
  exit 1
fi
set -- "$tmp"/varnalo_"$version"_*.deb
if [ "$#" -ne 1 ] || [ ! -f "$1" ]; then
  ls "$tmp" >&2
  echo "FAILED: expected one package varnalo_${version}_ARCH.deb" >&2
  exit 1
fi
deb=$1

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = varnalo ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = science ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
field Description | head -n 1 | grep -q 'dose-response' || fail "Description: $(field Description)"
[ "$(field Description | wc -l)" -gt 3 ] || fail "no long description"
# dpkg-shlibdeps fills Depends from the libraries the programs link.
depends=$(field Depends)
case "$depends" in
  *libc6*) ;;
  *) fail "Depends lacks libc6: '$depends'" ;;
esac
case "$depends" in
  *libstdc++6*) ;;
  *) fail "Depends lacks libstdc++6: '$depends'" ;;
esac

dpkg-deb -c "$deb" >"$tmp/contents.txt" || fail "dpkg-deb -c"
for file in usr/bin/Varnalo usr/bin/VarnaloNM usr/share/man/man1/Varnalo.1.gz \
    usr/share/man/man1/VarnaloNM.1.gz usr/share/doc/varnalo/README.md \
    usr/share/doc/varnalo/examples/README.md usr/share/doc/varnalo/examples/answers.txt \
    usr/share/doc/varnalo/examples/DATA/ROTENONE.TXT usr/share/doc/varnalo/examples/DATA/BEETLE.TXT \
    usr/share/doc/varnalo/doc/images/SIGMOID001.PNG usr/share/doc/varnalo/doc/images/LINEAR001.PNG; do
  grep -q " \./$file\$" "$tmp/contents.txt" || fail "not in the package: $file"
done
grep -q 'man1/[^ ]*\.1$' "$tmp/contents.txt" && fail "an uncompressed manual page is in the package"

# The packaged files work: the programs run, the pages unpack to the source
# and the links of the documentation lead to packaged files.
dpkg-deb -x "$deb" "$tmp/root" || fail "dpkg-deb -x"
. "$(dirname "$0")/doc_links.sh"
broken=$(doc_links_broken "$tmp/root/usr/share/doc/varnalo")
[ -z "$broken" ] || fail "links of the packaged documentation lead nowhere:
$broken"
for program in Varnalo VarnaloNM; do
  [ "$("$tmp/root/usr/bin/$program" --version)" = "$program $version" ] ||
    fail "packaged $program --version"
  gzip -dc "$tmp/root/usr/share/man/man1/$program.1.gz" >"$tmp/$program.1" &&
    grep -q "^\.TH $(echo "$program" | tr a-z A-Z) 1 " "$tmp/$program.1" ||
    fail "packaged manual page of $program"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "$(basename "$deb"): Depends: $depends"
