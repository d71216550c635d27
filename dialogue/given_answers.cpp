#include "dialogue/given_answers.h"

#include "data/data_files.h"
#include "foundation/process.h"

namespace varnalo {

int GivenAnswers::dose_scale(int) { return plan_.dose_scale; }

int GivenAnswers::variance_method(int) { return plan_.variance_method; }

bool GivenAnswers::find_next_analysis() {
  for (; next_ < plan_.analyses.size(); ++next_) {
    s_.named_data_files.clear();
    for (const GivenDataFile& file : plan_.analyses[next_])
      if (!file.path.empty()) s_.named_data_files[file.name] = file.path;
    bool sound = true;
    for (const GivenDataFile& file : plan_.analyses[next_]) {
      const std::string refusal = data_file_refusal(s_, file.name);
      if (!refusal.empty()) {
        write_error(refusal);
        sound = false;
      }
    }
    if (sound) return true;
    ++refused_;
  }
  return false;
}

std::vector<std::string> GivenAnswers::data_files() {
  ed_answer_ = 0;
  reference_answer_ = 0;
  while (find_next_analysis()) {
    std::vector<std::string> names;
    for (const GivenDataFile& file : plan_.analyses[next_++]) names.push_back(file.name);
    // The check that the dialogue makes when a name is typed: it shows the
    // note on counts with a fraction and keeps it among the notes. A file
    // changed since the look above is refused here.
    bool accepted = true;
    for (const std::string& name : names) accepted = check_data_file(s_, name) && accepted;
    if (accepted) return names;
    ++refused_;
  }
  return {};
}

int GivenAnswers::distribution(int) { return plan_.distribution; }

ModelChoice GivenAnswers::model(ModelChoice) { return plan_.model; }

double GivenAnswers::significance_level(SignificanceOf which, double) {
  return which == SignificanceOf::kVarianceRatio ? plan_.vr_level : plan_.chi2_level;
}

int GivenAnswers::chi_square_choice(int) { return plan_.chi_choice; }

EffectiveDoseRequest GivenAnswers::effective_doses(double current_level) {
  const std::size_t answer = ed_answer_++;
  if (answer < plan_.ed_levels.size())
    return {EffectiveDoseRequest::Kind::kLevel, plan_.ed_levels[answer]};
  if (plan_.ed_table && answer == plan_.ed_levels.size())
    return {EffectiveDoseRequest::Kind::kTable, current_level};
  return {EffectiveDoseRequest::Kind::kDone, current_level};
}

std::optional<int> GivenAnswers::reference(int) {
  // References beyond the preparations of this analysis are passed over.
  while (reference_answer_ < plan_.references.size()) {
    const int reference = plan_.references[reference_answer_++];
    if (reference >= 1 && reference <= s_.nprep) return reference;
  }
  return std::nullopt;
}

bool GivenAnswers::end_of_run() { return !find_next_analysis(); }

}  // namespace varnalo
