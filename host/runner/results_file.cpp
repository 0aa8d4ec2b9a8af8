#include "host/runner/results_file.h"

#include "host/runner/failure.h"
#include "wire/files.h"
#include "wire/spy_log.h"

namespace nbrun {
namespace {

ResultsFile* g_open = nullptr;  // the one a crash report writes

void WriteLastWords(Outcome outcome, const std::string& message) {
  std::string ignored;
  if (g_open) g_open->end(outcome, message, ignored);
}

}  // namespace

ResultsFile::ResultsFile(const std::string& path, const std::string& source)
    : path_(path), results_(source) {
  QueryPerformanceFrequency(&frequency_);
  QueryPerformanceCounter(&start_);
}

ResultsFile::~ResultsFile() {
  if (g_open == this) {
    SetLastWords(nullptr);
    g_open = nullptr;
  }
}

bool ResultsFile::start(std::string& error) {
  Results pending = results_;
  pending.end(Outcome::RunnerFailed, "the run has not ended: nbrun is still running, or was ended from outside",
              0);
  if (!write(pending, error)) return false;
  g_open = this;
  SetLastWords(WriteLastWords);
  return true;
}

void ResultsFile::expectation(const std::string& where, int pass, bool held, const std::string& what) {
  results_.expectation(where, pass, held, what, seconds());
}

bool ResultsFile::end(Outcome outcome, const std::string& message, std::string& error) {
  Results ended = results_;
  ended.end(outcome, message, seconds());
  return write(ended, error);
}

double ResultsFile::seconds() const {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency_.QuadPart);
}

bool ResultsFile::write(const Results& results, std::string& error) const {
  const DWORD failed = nbwire::WriteWholeFile(path_, results.xml());
  if (failed == 0) return true;
  error = "cannot write the results " + path_ + ": " + nbspy::ErrorText(failed);
  return false;
}

}  // namespace nbrun
