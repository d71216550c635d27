#include "session/settings_report.h"

#include "foundation/output.h"
#include "model/distributions.h"
#include "model/model_form.h"

namespace varnalo {

void report_settings(AnalysisState& s) {
  const ModelForm& form = model_form(s);
  report(s, "Distribution Function, Model (Activated Parameters) and Variances\n");
  report(s, "%d: %s, ", s.distribution, distribution_name(s.distribution));
  report(s, "%d: ", form.number);
  report_text(s, strprintf(form.settings_text, s.fixed_c) + ", ");
  report(s, "\n");
  report(s, "%d: %s\n", s.variance_method, kVarianceMethodNames[s.variance_method - 1]);
  report(s, "\n");
}

}  // namespace varnalo
