#!/bin/sh
# scripts/install-deps against stand-ins for dpkg-query, apt-get and id: it
# installs exactly the missing packages as root, nothing when none is
# missing (so a second run changes nothing), and as another user names the
# missing packages and the command to run instead of calling apt-get.
# Usage: install_deps_test.sh SCRIPT
# Exits 77 (skipped) when bash is missing.
set -u
script=$1
if ! command -v bash >/dev/null 2>&1; then
  echo "skipped: bash is not installed"
  exit 77
fi

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin"
# dpkg-query -W -f=FORMAT PACKAGE: installed when listed in $tmp/installed.
cat >"$tmp/bin/dpkg-query" <<EOF
#!/bin/sh
for pkg; do :; done
grep -qxF "\$pkg" "$tmp/installed" || { echo "no packages found matching \$pkg" >&2; exit 1; }
printf 'install ok installed'
EOF
# apt-get: logs its arguments; install adds the packages to the list, or
# fails when $tmp/apt-fails exists.
cat >"$tmp/bin/apt-get" <<EOF
#!/bin/sh
echo "\$*" >>"$tmp/apt.log"
[ "\$1" = install ] || exit 0
[ -e "$tmp/apt-fails" ] && exit 100
for arg; do
  case "\$arg" in install | -*) ;; *) echo "\$arg" >>"$tmp/installed" ;; esac
done
EOF
cat >"$tmp/bin/id" <<EOF
#!/bin/sh
echo "\$FAKE_UID"
EOF
chmod +x "$tmp/bin/dpkg-query" "$tmp/bin/apt-get" "$tmp/bin/id"

# run UID ARGS...: runs the script with the stand-ins; sets status, out, err.
run() {
  uid=$1
  shift
  rm -f "$tmp/apt.log"
  FAKE_UID=$uid PATH="$tmp/bin:$PATH" bash "$script" "$@" >"$tmp/out" 2>"$tmp/err"
  status=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
  apt=$(cat "$tmp/apt.log" 2>/dev/null)
}

all=$(bash "$script" --list) || fail "--list: status $?"
for pkg in g++ cmake pkg-config libplplot-dev plplot-driver-cairo fonts-dejavu-core libtbb-dev \
    nlohmann-json3-dev libcli11-dev \
    libgtest-dev libgmock-dev; do
  echo "$all" | grep -qxF "$pkg" || fail "--list lacks $pkg"
done
with_options=$(bash "$script" --benchmarks --peer --list)
echo "$with_options" | grep -qxF libbenchmark-dev || fail "--benchmarks does not add libbenchmark-dev"
echo "$with_options" | grep -qxF r-base-core || fail "--peer does not add r-base-core"
echo "$all" | grep -qxF r-base-core && fail "R is in the default list"

# Everything installed: nothing to do, as root or not.
echo "$all" >"$tmp/installed"
for uid in 0 1000; do
  run "$uid"
  [ "$status" -eq 0 ] || fail "uid $uid, nothing missing: status $status: $err"
  [ -z "$apt" ] || fail "uid $uid, nothing missing: apt-get was called: $apt"
done

# As root with two packages missing: one update, one install of just those
# two; the run after it finds nothing to do.
echo "$all" | grep -vxF -e libtbb-dev -e groff-base >"$tmp/installed"
run 0
[ "$status" -eq 0 ] || fail "root, two missing: status $status: $err"
[ "$apt" = "update
install -y --no-install-recommends libtbb-dev groff-base" ] ||
  fail "root, two missing: apt-get was called as: $apt"
run 0
[ "$status" -eq 0 ] && [ -z "$apt" ] || fail "second run: status $status, apt-get: $apt"

# --check names what is missing and installs nothing.
echo "$all" | grep -vxF libgmock-dev >"$tmp/installed"
run 0 --check
[ "$status" -eq 1 ] || fail "--check with libgmock-dev missing: status $status"
[ -z "$apt" ] || fail "--check called apt-get: $apt"
case "$out" in *libgmock-dev*) ;; *) fail "--check does not name libgmock-dev: $out" ;; esac

# Not root: names the missing package and what to run; no apt-get.
run 1000
[ "$status" -eq 1 ] || fail "not root, one missing: status $status"
[ -z "$apt" ] || fail "not root: apt-get was called: $apt"
case "$err" in
  *"sudo "*"install-deps"*"apt-get install libgmock-dev"*) ;;
  *) fail "not root: the message does not say what to run: $err" ;;
esac

# A failing apt-get install is a failure, not a success.
touch "$tmp/apt-fails"
run 0
[ "$status" -ne 0 ] || fail "apt-get install failed, yet status 0"
case "$err" in *libgmock-dev*) ;; *) fail "failed install: no package named: $err" ;; esac
rm -f "$tmp/apt-fails"

run 0 --frobnicate
[ "$status" -eq 2 ] || fail "unknown argument: status $status"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install-deps: all checks passed"
