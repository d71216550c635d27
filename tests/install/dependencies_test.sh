#!/bin/sh
# Configures the source tree in temporary build folders with one library at a
# time hidden from CMake, and checks that the configuration stops with a
# message naming the Debian package that provides it, that scripts/install-deps
# installs every package so named, that a missing PNG driver is a warning
# naming its package, and the default build types: Release for the programs
# alone, Debug with the tests.
# Usage: dependencies_test.sh CMAKE SOURCE_DIR
# Exits 77 (skipped) when bash is missing (install-deps needs it).
set -u
cmake=$1 source=$2
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
installed=$(bash "$source/scripts/install-deps" --benchmarks --list) || exit 1
n=0

# configure [cmake options...]: configures into a new folder, with the
# environment assignments in $with (paths without blanks); sets status, log
# and build.
with=
configure() {
  n=$((n + 1))
  build=$tmp/build$n
  env $with "$cmake" -S "$source" -B "$build" "$@" >"$tmp/log$n" 2>&1
  status=$?
  log=$(cat "$tmp/log$n")
}

# expect_stop WHAT PACKAGE [cmake options...]: configuring stops and says
# how to install PACKAGE, which install-deps installs too.
expect_stop() {
  what=$1 package=$2
  shift 2
  configure "$@"
  if [ "$status" -eq 0 ]; then
    fail "$what hidden: the configuration went on"
    return
  fi
  echo "$log" | grep -q "sudo apt-get install $package" ||
    fail "$what hidden: the message does not name $package: $log"
  echo "$log" | grep -q "scripts/install-deps" || fail "$what hidden: no word of scripts/install-deps"
  echo "$installed" | grep -qxF "$package" || fail "scripts/install-deps does not install $package"
}

expect_stop pkg-config pkg-config -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON
expect_stop oneTBB libtbb-dev -DCMAKE_DISABLE_FIND_PACKAGE_TBB=ON
expect_stop nlohmann-json nlohmann-json3-dev -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON
expect_stop CLI11 libcli11-dev -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON
expect_stop GoogleTest libgtest-dev -DVARNALO_BUILD_TESTS=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
expect_stop "Google Benchmark" libbenchmark-dev -DVARNALO_BUILD_BENCHMARKS=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON

# PLplot: pkg-config searches an empty folder alone.
mkdir "$tmp/no-modules"
with="PKG_CONFIG_LIBDIR=$tmp/no-modules PKG_CONFIG_PATH="
expect_stop PLplot libplplot-dev
with=
echo "$log" | grep -q "plplot-driver-cairo fonts-dejavu-core" ||
  fail "PLplot hidden: the run-time packages are not named"

# GoogleMock: a GoogleTest package without it.
mkdir "$tmp/gtest-alone"
cat >"$tmp/gtest-alone/GTestConfig.cmake" <<'EOF'
add_library(GTest::gtest INTERFACE IMPORTED)
add_library(GTest::gtest_main INTERFACE IMPORTED)
EOF
expect_stop GoogleMock libgmock-dev -DVARNALO_BUILD_TESTS=ON -DGTest_DIR="$tmp/gtest-alone"

# PLplot's PNG driver: its modules, with the driver folder moved to an empty one.
if pcdir=$(pkg-config --variable=pcfiledir plplot-c++ 2>/dev/null) && [ -n "$pcdir" ]; then
  mkdir "$tmp/pc" "$tmp/no-drivers"
  for module in plplot plplot-c++; do
    sed "s|^drvdir=.*|drvdir=$tmp/no-drivers|" "$pcdir/$module.pc" >"$tmp/pc/$module.pc"
  done
  with="PKG_CONFIG_PATH=$tmp/pc"
  configure
  with=
  [ "$status" -eq 0 ] || fail "without the PNG driver the configuration stopped: $log"
  echo "$log" | grep -q "sudo apt-get install plplot-driver-cairo fonts-dejavu-core" ||
    fail "without the PNG driver: no warning naming plplot-driver-cairo: $log"
  echo "$installed" | grep -qxF plplot-driver-cairo || fail "install-deps lacks plplot-driver-cairo"
else
  fail "pkg-config does not find plplot-c++"
fi

# build_type ARGS...: configures a new folder; sets type to its build type.
build_type() {
  configure "$@"
  [ "$status" -eq 0 ] || fail "configure $*: status $status: $log"
  type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
}
build_type
[ "$type" = Release ] || fail "the programs alone are built $type by default, not Release"
grep -q '^VARNALO_BUILD_TESTS:BOOL=OFF$' "$build/CMakeCache.txt" || fail "the tests are built by default"
echo "$log" | grep -q "Varnalo: Release build, tests OFF" || fail "no status line of the build type"
build_type -DVARNALO_BUILD_TESTS=ON
[ "$type" = Debug ] || fail "the tests are built $type by default, not Debug"
build_type -DVARNALO_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release
[ "$type" = Release ] || fail "a chosen build type is not kept: $type"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "dependency messages and build types: all checks passed"
