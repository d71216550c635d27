// The line of each preparation that a fit does not estimate: which fit, what
// is wrong, what still holds; none for a preparation both fits estimate.
#include "session/estimability_report.h"

#include <gtest/gtest.h>

#include <string>

namespace varnalo {
namespace {

FitEstimability verdict(std::initializer_list<Estimable> preps) {
  FitEstimability v;
  v.prep.push_back(Estimable::kYes);
  v.prep.insert(v.prep.end(), preps);
  return v;
}

TEST(EstimabilityReport, OneLinePerPreparationSayingWhatHolds) {
  using E = Estimable;
  struct Case {
    int nprep;
    E separate, common;  // separate unused with one preparation
    const char* line;
  };
  const Case cases[] = {
      {1, E::kYes, E::kYes, ""},
      {1, E::kYes, E::kNoFiniteMaximum,
       "* P: no finite maximum (complete or quasi-complete separation): no standard errors, no "
       "effective doses.\n"},
      {1, E::kYes, E::kTooFewDoses,
       "* P: too few distinct doses (controls not counted): no standard errors, no effective "
       "doses.\n"},
      {1, E::kYes, E::kControlsUnexplained,
       "* P: responding controls that a model without C cannot explain: no standard errors, no "
       "effective doses.\n"},
      {2, E::kYes, E::kYes, ""},
      {2, E::kNoFiniteMaximum, E::kYes,
       "* P: no finite maximum (complete or quasi-complete separation) in the separate-slopes fit; its "
       "common-slope estimates hold.\n"},
      {2, E::kTooFewDoses, E::kYes,
       "* P: too few distinct doses (controls not counted) in the separate-slopes fit; its "
       "common-slope estimates hold.\n"},
      {2, E::kYes, E::kNoFiniteMaximum,
       "* P: no finite maximum (complete or quasi-complete separation) in the common-slope fit: no "
       "effective dose or potency; its separate-slopes estimates hold.\n"},
      {2, E::kNoFiniteMaximum, E::kNoFiniteMaximum,
       "* P: no finite maximum (complete or quasi-complete separation) in both fits: nothing is "
       "estimated for it.\n"},
      {2, E::kTooFewDoses, E::kNoFiniteMaximum,
       "* P: too few distinct doses (controls not counted) in the separate-slopes fit, no "
       "finite maximum (complete or quasi-complete separation) in the common-slope fit: nothing is "
       "estimated for it.\n"},
  };
  for (const Case& c : cases) {
    AnalysisState s;
    s.nprep = c.nprep;
    s.prep_names[1] = "P";
    s.prep_names[2] = "Q";
    if (c.nprep == 1) {
      s.common_estimability = verdict({c.common});
    } else {
      s.separate_estimability = verdict({c.separate, Estimable::kYes});
      s.common_estimability = verdict({c.common, Estimable::kYes});
      EXPECT_EQ(estimability_line(s, 2), "");
    }
    EXPECT_EQ(estimability_line(s, 1), c.line);
  }
}

}  // namespace
}  // namespace varnalo
