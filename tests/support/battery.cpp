#include "support/battery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "model/model_family.h"
#include "support/reference_data.h"

namespace varnalo::testing {

namespace {

// "<set>.d<dist>.m<model>.<sep|common>" into a fit; false for other names.
bool parse_case(const std::string& name, BatteryFit* fit) {
  const std::size_t d = name.find(".d");
  if (d == std::string::npos) return false;
  int distribution = 0, model = 0;
  char fit_kind[16] = {0};
  if (std::sscanf(name.c_str() + d, ".d%d.m%d.%15s", &distribution, &model, fit_kind) != 3)
    return false;
  fit->set = name.substr(0, d);
  fit->distribution = distribution;
  fit->model = model;
  fit->separate = std::string(fit_kind) == "sep";
  return true;
}

}  // namespace

const Battery& Battery::get() {
  static const Battery battery = [] {
    Battery b;
    std::ifstream in(reference_path("battery_values.txt"));
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      std::string name, quantity, value;
      if (!(fields >> name >> quantity >> value)) continue;
      BatteryFit fit;
      if (parse_case(name, &fit)) {
        const double v = std::strtod(value.c_str(), nullptr);
        if (quantity == "max_loglik") {
          fit.max_loglik = v;
          b.fits_.push_back(fit);
          continue;
        }
        // The estimates follow their fit's max_loglik line.
        if (b.fits_.empty() || b.fits_.back().name() != name) continue;
        BatteryFit& last = b.fits_.back();
        if (quantity[0] == 'a') last.a.push_back(v);
        if (quantity[0] == 'b') last.b.push_back(v);
        if (quantity == "C") last.C = v;
        if (quantity == "D") last.D = v;
      } else if (quantity == "files") {
        BatterySet set;
        set.name = name;
        std::istringstream files(value);
        std::string file;
        while (std::getline(files, file, ',')) {
          set.preps.push_back(
              sorted_as_loader(read_group_file(reference_path("battery/" + file), false)));
          EXPECT_FALSE(set.preps.back().empty()) << "no groups in battery/" << file;
        }
        b.sets_.push_back(set);
      } else if (quantity == "fixed_c") {
        for (BatterySet& set : b.sets_)
          if (set.name == name) set.fixed_c = std::strtod(value.c_str(), nullptr);
      }
    }
    return b;
  }();
  return battery;
}

std::string BatteryFit::name() const {
  return set + ".d" + std::to_string(distribution) + ".m" + std::to_string(model) +
         (separate ? ".sep" : ".common");
}

void set_battery_params(AnalysisState& s, const BatteryFit& fit) {
  for (int i = 1; i <= s.param_capacity(); ++i) s.params[i] = 0.0;
  for (std::size_t i = 0; i < fit.a.size(); ++i) s.params[static_cast<int>(i) + 1] = fit.a[i];
  for (std::size_t i = 0; i < fit.b.size(); ++i)
    s.params[s.nprep + static_cast<int>(i) + 1] = fit.b[i];
  const RateIndices at = rate_indices(s);
  if (at.c != 0) s.params[at.c] = fit.C;
  if (at.d != 0) s.params[at.d] = fit.D;
}

double covariance_difference(const AnalysisState& s, const Matrix& V, const std::string& case_name,
                             const std::string& prefix) {
  const ReferenceValues& ref = ReferenceValues::information();
  auto entry = [&](int i, int j) {
    return ref.at(case_name, prefix + std::to_string(i) + "_" + std::to_string(j));
  };
  double largest = 0.0;
  for (int i = 1; i <= s.npar; ++i) largest = std::max(largest, entry(i, i));
  const double floor = kPinnedVariance * largest;
  double worst = 0.0;
  for (int i = 1; i <= s.npar; ++i)
    for (int j = i; j <= s.npar; ++j) {
      const double scale = std::sqrt(std::max(entry(i, i), floor) * std::max(entry(j, j), floor));
      worst = std::max(worst, std::fabs(V[i][j] - entry(i, j)) / scale);
    }
  return worst;
}

const BatterySet& Battery::set(const std::string& name) const {
  for (const BatterySet& set : sets_)
    if (set.name == name) return set;
  ADD_FAILURE() << "no battery data set " << name;
  static const BatterySet none;
  return none;
}

}  // namespace varnalo::testing
