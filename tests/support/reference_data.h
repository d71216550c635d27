// Access to the independently computed reference fits (tests/reference):
// the published data sets as dose groups, the names of cases and fitted
// entries in the reference file, and fixtures loaded with a reference fit.
// Inputs: a data-set or case name; outputs: groups, names, or a state whose
// estimates and covariance matrices are the reference values.
#pragma once

#include <string>
#include <vector>

#include "support/harness.h"

namespace varnalo::testing {

// The data sets of the reference file, in the order it lists them.
inline constexpr const char* kReferenceDataSets[] = {"rotenone", "beetle", "budworm", "rotenone_c",
                                                      "beetle_c"};

// True once reference_values.txt has been generated.
bool reference_available();

// The preparations of a reference data set, each in file order ("budworm"
// has males then females; every other set one preparation).
std::vector<std::vector<Group>> reference_dataset(const std::string& name);

// Groups in the loader's order: ascending log dose, ties by observed
// proportion, equal groups kept in file order.
std::vector<Group> sorted_as_loader(std::vector<Group> groups);
std::vector<std::vector<Group>> sorted_as_loader(std::vector<std::vector<Group>> preps);

// Case name of a fit in the reference file, e.g. "rotenone.d1.m1.common".
std::string reference_case(const std::string& data, int distribution, int model, bool separate);

// Names of the fitted entries in parameter-vector order: a1..aP, then b (one
// slope) or b1..bS, then C and/or D as the model estimates them.
std::vector<std::string> reference_parameter_names(int nprep, int nslopes, int model);

// Name of a matrix entry in the reference file, e.g. "cov_1_2".
std::string matrix_entry(const std::string& prefix, int i, int j);

// Sets s.params[1..] to the reference estimates of the case (s.nprep,
// s.nslopes and s.model already set).
void set_reference_params(AnalysisState& s, const std::string& case_name);

// Sets m[i][j] = factor * <prefix>i_j of the case for i, j = 1..n.
void set_reference_matrix(Matrix& m, int n, const std::string& case_name,
                          const std::string& prefix, double factor = 1.0);

// Loads the common-slope fit of a reference case into the fixture: params,
// fit_cov = inverse observed information and info_cov = inverse expected
// information (both multiplied by het), prep_sum_w, prep_mean_x, het_factor
// and sep_df. One dummy dose group per preparation. Returns false when the
// reference file does not hold the case.
bool load_reference_fit(StageFixture& fx, const std::string& case_name, int nprep,
                        int distribution, int model, double het);

}  // namespace varnalo::testing
