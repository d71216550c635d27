// The random battery of the reference folder (tests/reference/battery*):
// data sets drawn by make_battery.R and the maxima of their log-likelihoods
// found independently in R.
// Inputs: battery_values.txt and the data files of battery/. Outputs: the
// data sets with their known C for model 7, and every reference fit.
#pragma once

#include <string>
#include <vector>

#include "support/harness.h"

namespace varnalo::testing {

struct BatteryFit {
  std::string set;
  int distribution = 0;
  int model = 0;
  bool separate = false;
  double max_loglik = 0.0;
  // The estimates at the maximum: intercepts and slopes in preparation
  // order, and the rates (C is the known C of model 7, 0 where unused).
  std::vector<double> a, b;
  double C = 0.0, D = 0.0;
  std::string name() const;
};

// Sets s.params[1..npar] to the reference estimates of a fit, in the
// program's order (intercepts, slopes, then the rates the model estimates);
// the state's model, nprep and nslopes must be those of the fit.
void set_battery_params(AnalysisState& s, const BatteryFit& fit);

// The largest difference of the leading npar x npar block of V from the
// reference matrix of information_values.txt named `prefix` ("exp_cov_",
// "obs_cov_") for the case, relative to sqrt(ref_ii ref_jj); a reference
// variance of (about) 0, a rate pinned to its bound by infinite
// information, is held to kPinnedVariance of the largest.
inline constexpr double kPinnedVariance = 1e-10;
double covariance_difference(const AnalysisState& s, const Matrix& V, const std::string& case_name,
                             const std::string& prefix);

struct BatterySet {
  std::string name;
  std::vector<std::vector<Group>> preps;  // in the loader's order
  double fixed_c = 0.5;
};

class Battery {
 public:
  static const Battery& get();
  bool available() const { return !fits_.empty(); }
  const std::vector<BatteryFit>& fits() const { return fits_; }
  const BatterySet& set(const std::string& name) const;

 private:
  std::vector<BatteryFit> fits_;
  std::vector<BatterySet> sets_;
};

}  // namespace varnalo::testing
