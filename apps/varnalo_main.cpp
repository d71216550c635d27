// Varnalo: quantal dose-response analysis, variable-metric maximiser.
#include "apps/program.h"

int main(int argc, char* argv[]) {
  return varnalo::run_main(argc, argv, varnalo::kVariableMetricEdition);
}
