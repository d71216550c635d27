#include "support/reference_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace varnalo::testing {

bool reference_available() { return std::filesystem::exists(reference_path("reference_values.txt")); }

std::vector<std::vector<Group>> reference_dataset(const std::string& name) {
  // The two published sets ship with the examples; the others were written
  // by the reference script. BEETLE files hold log doses already.
  if (name == "rotenone") return {read_group_file(examples_path("DATA/ROTENONE.TXT"), false)};
  if (name == "beetle") return {read_group_file(examples_path("DATA/BEETLE.TXT"), true)};
  if (name == "budworm")
    return {read_group_file(reference_path("data/BUDWORM_M.TXT"), false),
            read_group_file(reference_path("data/BUDWORM_F.TXT"), false)};
  if (name == "rotenone_c") return {read_group_file(reference_path("data/ROTENONE_C.TXT"), false)};
  if (name == "beetle_c") return {read_group_file(reference_path("data/BEETLE_C.TXT"), true)};
  ADD_FAILURE() << "no reference data set " << name;
  return {};
}

std::vector<Group> sorted_as_loader(std::vector<Group> groups) {
  std::stable_sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
    if (a.x != b.x) return a.x < b.x;
    return a.r / a.n < b.r / b.n;
  });
  return groups;
}

std::vector<std::vector<Group>> sorted_as_loader(std::vector<std::vector<Group>> preps) {
  for (std::vector<Group>& groups : preps) groups = sorted_as_loader(std::move(groups));
  return preps;
}

std::string reference_case(const std::string& data, int distribution, int model, bool separate) {
  return data + ".d" + std::to_string(distribution) + ".m" + std::to_string(model) +
         (separate ? ".sep" : ".common");
}

std::vector<std::string> reference_parameter_names(int nprep, int nslopes, int model) {
  std::vector<std::string> names;
  for (int i = 1; i <= nprep; ++i) names.push_back("a" + std::to_string(i));
  if (nslopes == 1)
    names.push_back("b");
  else
    for (int i = 1; i <= nslopes; ++i) names.push_back("b" + std::to_string(i));
  if (model == 2 || model == 6 || model == 4 || model == 8) names.push_back("C");
  if (model == 3 || model == 7 || model == 4 || model == 8) names.push_back("D");
  return names;
}

std::string matrix_entry(const std::string& prefix, int i, int j) {
  return prefix + std::to_string(i) + "_" + std::to_string(j);
}

void set_reference_params(AnalysisState& s, const std::string& case_name) {
  const ReferenceValues& ref = ReferenceValues::get();
  const std::vector<std::string> names = reference_parameter_names(s.nprep, s.nslopes, s.model);
  for (std::size_t i = 0; i < names.size(); ++i)
    s.params[static_cast<int>(i) + 1] = ref.at(case_name, names[i]);
}

void set_reference_matrix(Matrix& m, int n, const std::string& case_name,
                          const std::string& prefix, double factor) {
  const ReferenceValues& ref = ReferenceValues::get();
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) m[i][j] = factor * ref.at(case_name, matrix_entry(prefix, i, j));
}

bool load_reference_fit(StageFixture& fx, const std::string& case_name, int nprep,
                        int distribution, int model, double het) {
  const ReferenceValues& ref = ReferenceValues::get();
  if (!ref.has(case_name, "b")) return false;
  std::vector<std::vector<Group>> preps(nprep, std::vector<Group>{{0.0, 10.0, 5.0}});
  fx.set_groups(preps);
  fx.begin_fit(distribution, model, 1);
  AnalysisState& s = fx.state();
  set_reference_params(s, case_name);
  const int n = static_cast<int>(reference_parameter_names(nprep, 1, model).size());
  set_reference_matrix(s.fit_cov, n, case_name, "obscov_", het);
  set_reference_matrix(s.info_cov, n, case_name, "cov_", het);
  for (int j = 1; j <= nprep; ++j) {
    s.prep_sum_w[j] = ref.at(case_name, "sumw_" + std::to_string(j));
    s.prep_mean_x[j] = ref.at(case_name, "meanx_" + std::to_string(j));
  }
  s.het_factor = het;
  s.sep_df = ref.at(case_name, "het_df");
  return true;
}

}  // namespace varnalo::testing
