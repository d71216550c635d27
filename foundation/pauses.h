// Pauses: the places where the output stops for the reader to study a table.
//
// A stage marks where its tables pause by calling pause(); what a pause does
// belongs to whoever runs the analysis: the console dialogue waits for the
// user to press Enter, a run without a dialogue goes straight on. Stages
// never read the console themselves.
#pragma once

namespace varnalo {

class Pauses {
 public:
  virtual ~Pauses() = default;
  virtual void pause() = 0;
};

}  // namespace varnalo
