// --results FILE: the run's results (results.h), timed from the start. The
// file is written first when the run starts, saying the run has not ended,
// so a process ended from outside leaves a failing result rather than an
// old one or none; then when the run ends, and by the crash report or the
// --max-seconds watchdog when the process ends before that.
#pragma once

#include <windows.h>

#include <string>

#include "host/runner/results.h"

namespace nbrun {

class ResultsFile {
 public:
  // `source`: the script as named on the command line, empty for the prompt.
  ResultsFile(const std::string& path, const std::string& source);
  ~ResultsFile();
  ResultsFile(const ResultsFile&) = delete;
  ResultsFile& operator=(const ResultsFile&) = delete;

  // Writes the file as of a run not ended; false with why in `error`.
  bool start(std::string& error);

  void expectation(const std::string& where, int pass, bool held, const std::string& what);
  void warning(const std::string& text) { results_.warning(text); }

  // Writes the run's end; false with why in `error`.
  bool end(Outcome outcome, const std::string& message, std::string& error);

 private:
  double seconds() const;
  bool write(const Results& results, std::string& error) const;

  std::string path_;
  Results results_;
  LARGE_INTEGER start_{}, frequency_{};
};

}  // namespace nbrun
