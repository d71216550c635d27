// Variance-covariance matrices of the fitted parameters.
//
// build_info_matrix: the inverse of the expected information at the fitted
// params (info_cov, leading npar x npar block; everything else 0; the
// record of the inversion is returned for the session to report), with the
// per-preparation weight sums prep_sum_w and weighted mean log doses
// prep_mean_x. selected_cov: the matrix of the chosen variance method
// (fit_cov under 1, info_cov under 2); every consumer reads it. Rescaling by
// the heterogeneity factor multiplies both matrices. derive_location_scale
// turns estimates and covariance of the fitted form (a, b, C, D) into the
// location/scale form (m = -a/b, s = 1/b, C, D) by the delta method.
// All vectors and matrices are 1-based, N = nprep + nslopes + 2.
#pragma once

#include <vector>

#include "fit/gaussj.h"
#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

// Returns the record of the inversion.
InversionSummary build_info_matrix(AnalysisState& s);
// The inverse of the expected information of the parameters 1..npar that
// are not lost (lost[i], i = 1..npar), into info_cov; the entries of lost
// parameters are not numbers (not estimated). Returns the record of the
// inversion.
InversionSummary invert_information_without(AnalysisState& s, const std::vector<bool>& lost);
// The same for any matrix M over 1..n: the inverse of the rows and columns
// kept, in place, "not a number" in the rows and columns lost.
InversionSummary invert_without(Matrix& M, int n, const std::vector<bool>& lost);
// fit_cov under variance method 1, info_cov under 2.
Matrix& selected_cov(AnalysisState& s);
void scale_by_het_factor(AnalysisState& s);
void derive_location_scale(const AnalysisState& s, DRef in, DRef out, const Matrix& V, Matrix& U);

// True when the leading npar x npar block of V is finite with positive
// variances, so standard errors and correlations can be formed from it.
bool covariance_usable(const AnalysisState& s, const Matrix& V);
// True when every slope of the fitted vector p is finite and non-zero, so
// that the location/scale form exists.
bool location_scale_defined(const AnalysisState& s, DRef p);

}  // namespace varnalo
