#!/bin/sh
# The manual pages render without a single groff warning and name the
# project's version in their title line.
# Usage: man_pages_test.sh MAN_DIR VERSION
# Exits 77 (skipped) when groff is missing.
set -u
dir=$1 version=$2
if ! command -v groff >/dev/null 2>&1; then
  echo "skipped: groff is not installed (Debian: groff-base)"
  exit 77
fi
failures=0
for page in "$dir"/Varnalo.1 "$dir"/VarnaloNM.1; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  status=$?
  if [ "$status" -ne 0 ] || [ -n "$warnings" ]; then
    echo "FAILED: $page: status $status" >&2
    echo "$warnings" >&2
    failures=$((failures + 1))
  fi
  if ! grep -q "^\.TH [A-Z]* 1 [0-9-]* \"Varnalo $version\" " "$page"; then
    echo "FAILED: $page: the .TH line does not name Varnalo $version" >&2
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] || exit 1
echo "manual pages: no warnings"
