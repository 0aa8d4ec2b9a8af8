#include "host/runner/session.h"

#include "host/runner/script.h"

namespace nbrun {
namespace {

// Blocks the lines open and do not close; below 1 when they are complete
// (or close more than they open, which loading then refuses).
int OpenBlocks(const std::vector<std::string>& lines) {
  int depth = 0;
  for (const std::string& line : lines) {
    const StatementForm* form = FormOf(ParseLine(line).statement.kind);
    const BlockRole role = form ? form->role : BlockRole::None;
    if (role == BlockRole::Opens) ++depth;
    if (role == BlockRole::Closes && --depth < 0) return depth;
  }
  return depth;
}

}  // namespace

Outcome Session::feed(const std::string& line, Host& host, std::string& message) {
  message.clear();
  ParsedLine parsed;
  const std::string why = CheckLine(line, known_, parsed);
  ++typed_;
  if (!why.empty()) {
    message = "line " + std::to_string(typed_) + ": " + why;
    if (!waiting_.empty()) waiting_.emplace_back();
    return Outcome::Failed;
  }
  waiting_.push_back(line);
  if (OpenBlocks(waiting_) > 0) return Outcome::Done;
  std::vector<std::string> completed;
  completed.swap(waiting_);
  const size_t start = program_.lines.size();
  if (!Extend(program_, completed, typed_ - static_cast<int>(completed.size()) + 1, message, known_)) {
    return Outcome::Failed;
  }
  return Run(program_, host, message, start);
}

std::string Session::end() const {
  if (waiting_.empty()) return std::string();
  Program program = program_;
  std::string error;
  Extend(program, waiting_, typed_ - static_cast<int>(waiting_.size()) + 1, error, known_);
  return error;
}

bool IsQuit(const std::string& line) {
  const size_t begin = line.find_first_not_of(" \t");
  const size_t end = line.find_last_not_of(" \t");
  return begin != std::string::npos && LowerCase(line.substr(begin, end - begin + 1)) == "quit";
}

}  // namespace nbrun
