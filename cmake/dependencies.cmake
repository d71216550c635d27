# Finding the libraries of the build. A library that is missing stops the
# configuration with a message naming the Debian package that provides it,
# and scripts/install-deps, which installs every package of the build and
# the tests. Each find below names its package; scripts/install-deps lists
# the same packages (tests/install/dependencies_test.sh checks both).

# Stops the configuration: WHAT is missing; DEBIAN_PACKAGES provide it.
function(varnalo_stop_missing what debian_packages)
  string(REPLACE ";" " " packages "${debian_packages}")
  message(FATAL_ERROR
    "${what} was not found.\n"
    "On Debian or Ubuntu install the package(s) ${packages}:\n"
    "    sudo apt-get install ${packages}\n"
    "or run scripts/install-deps as root, which installs every package the "
    "build and the tests need. Then run cmake again.")
endfunction()

# varnalo_find_package(NAME WHAT <text> DEBIAN <packages...> [TARGETS <targets...>])
# find_package(NAME) in config or module mode; stops with the message above
# unless the package is found and defines every target named.
function(varnalo_find_package name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "WHAT" "DEBIAN;TARGETS")
  find_package(${name} QUIET)
  set(found ${${name}_FOUND})
  foreach(target IN LISTS arg_TARGETS)
    if(NOT TARGET ${target})
      set(found FALSE)
    endif()
  endforeach()
  if(NOT found)
    varnalo_stop_missing("${arg_WHAT}" "${arg_DEBIAN}")
  endif()
endfunction()

# ---- The programs -------------------------------------------------------------
find_package(PkgConfig QUIET)
if(NOT PKG_CONFIG_FOUND)
  varnalo_stop_missing("pkg-config (which finds PLplot)" pkg-config)
endif()

# PLplot draws the pictures of every analysis (its C++ interface and, for
# the error handlers, the C library underneath).
pkg_check_modules(PLPLOT QUIET IMPORTED_TARGET plplot-c++ plplot)
if(NOT PLPLOT_FOUND)
  varnalo_stop_missing(
    "PLplot 5.15 with its C++ interface (pkg-config module plplot-c++), which draws the pictures,"
    "libplplot-dev;plplot-driver-cairo;fonts-dejavu-core")
endif()
# PLplot loads its PNG driver (cairo) only when a picture is drawn: the build
# does not need it, the PNG pictures and their tests do.
pkg_get_variable(PLPLOT_DRIVER_DIR plplot drvdir)
if(NOT EXISTS "${PLPLOT_DRIVER_DIR}/cairo.driver_info")
  message(WARNING
    "PLplot's cairo driver was not found in '${PLPLOT_DRIVER_DIR}': the "
    "programs build, but draw no PNG picture, and the tests of the pictures "
    "fail. Install it with\n"
    "    sudo apt-get install plplot-driver-cairo fonts-dejavu-core")
endif()


# oneTBB: the sums over the groups of large data sets on all cores.
varnalo_find_package(TBB
  WHAT "oneTBB (which sums large data sets on all cores)"
  DEBIAN libtbb-dev TARGETS TBB::tbb)

# nlohmann-json writes the results of every analysis as JSON for other
# programs.
varnalo_find_package(nlohmann_json
  WHAT "nlohmann-json (the JSON results of every analysis)"
  DEBIAN nlohmann-json3-dev TARGETS nlohmann_json::nlohmann_json)

# CLI11 reads the command line that runs a whole analysis.
varnalo_find_package(CLI11
  WHAT "CLI11 (the command line of a whole analysis)"
  DEBIAN libcli11-dev TARGETS CLI11::CLI11)

# Libraries on their way in are found the same way, for example
#   varnalo_find_package(Foo WHAT "Foo (what it does here)"
#                        DEBIAN libfoo-dev TARGETS Foo::foo)
# with the package added to the list of scripts/install-deps.

# ---- Tests and benchmarks ---------------------------------------------------------
if(VARNALO_BUILD_TESTS)
  varnalo_find_package(GTest WHAT "GoogleTest (the tests)"
    DEBIAN libgtest-dev TARGETS GTest::gtest GTest::gtest_main)
  if(NOT TARGET GTest::gmock)
    varnalo_stop_missing("GoogleMock (the tests)" libgmock-dev)
  endif()
endif()

if(VARNALO_BUILD_BENCHMARKS)
  varnalo_find_package(benchmark WHAT "Google Benchmark (the benchmarks)"
    DEBIAN libbenchmark-dev TARGETS benchmark::benchmark benchmark::benchmark_main)
endif()
