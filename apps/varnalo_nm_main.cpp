// VarnaloNM: quantal dose-response analysis, downhill-simplex maximiser.
#include "apps/program.h"

int main(int argc, char* argv[]) { return varnalo::run_main(argc, argv, varnalo::kSimplexEdition); }
