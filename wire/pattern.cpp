#include "pattern.h"

#include <algorithm>

namespace nbdevice {
namespace {

// Whether the step takes the byte: one of its own, any but CR and LF (any
// at all in a binary request), or one of its class.
bool Takes(const PatternProgram& program, const PatternStep& step, unsigned char byte) {
  switch (step.op) {
    case PatternOp::Byte: return step.byte == byte;
    case PatternOp::Any: return program.dotTakesEveryByte || (byte != '\n' && byte != '\r');
    case PatternOp::Class: return program.classes[step.x][byte];
    default: return false;
  }
}

}  // namespace

void PatternThreads::reserve(size_t threads, size_t slots) {
  slots_ = slots;
  steps_.reserve(threads);
  saved_.reserve(threads * slots);
}

void PatternThreads::clear() {
  steps_.clear();
  saved_.clear();
}

void PatternThreads::add(size_t step, const int* saved) {
  steps_.push_back(step);
  saved_.insert(saved_.end(), saved, saved + slots_);
}

void PatternRun::start() {
  const size_t steps = program_->steps.size();
  // At most one thread waits at each step, and one more starts.
  frontier_.reserve(steps + 1, program_->slots());
  waiting_.reserve(steps, program_->slots());
  // A step pushes at most two more to follow, once each close.
  pending_.reserve(2 * steps + 1);
  seen_.assign(steps, 0);
  closes_ = 0;
  saved_.assign(program_->slots(), -1);
  frontier_.clear();
  waiting_.clear();
  if (steps != 0) seed();
}

void PatternRun::seed() {
  std::fill(saved_.begin(), saved_.end(), -1);
  frontier_.add(0, saved_.data());
}

void PatternRun::close(int position, int before, int at, Captures* match) {
  if (++closes_ == 0) {  // the count went round: no step is marked any more
    std::fill(seen_.begin(), seen_.end(), 0);
    closes_ = 1;
  }
  waiting_.clear();
  bool matched = false;
  for (size_t k = 0; k < frontier_.size(); ++k) {
    std::copy(frontier_.saved(k), frontier_.saved(k) + saved_.size(), saved_.begin());
    pending_.push_back({frontier_.step(k), -1, 0});
    follow(position, before, at, match, matched);
  }
  if (match != nullptr && !matched) match->clear();
}

// Follows the pending steps depth first, the preferred way first: the first
// thread to reach a step takes it, as a search that tries the ways one after
// another would have reached it first.
void PatternRun::follow(int position, int before, int at, Captures* match, bool& matched) {
  while (!pending_.empty()) {
    const Pending next = pending_.back();
    pending_.pop_back();
    if (next.slot >= 0) {
      saved_[static_cast<size_t>(next.slot)] = next.value;
      continue;
    }
    if (seen_[next.step] == closes_) continue;
    seen_[next.step] = closes_;
    const PatternStep& step = program_->steps[next.step];
    bool on = false;  // an assertion that holds lets the thread on
    switch (step.op) {
      case PatternOp::Jump: pending_.push_back({step.x, -1, 0}); continue;
      case PatternOp::Split:
        pending_.push_back({step.y, -1, 0});
        pending_.push_back({step.x, -1, 0});
        continue;
      case PatternOp::Save:
        pending_.push_back({0, static_cast<int>(step.x), saved_[step.x]});
        saved_[step.x] = position;
        on = true;
        break;
      case PatternOp::Begin: on = position == 0; break;
      case PatternOp::End: on = at < 0; break;
      case PatternOp::Boundary: on = IsWordByte(before) != IsWordByte(at); break;
      case PatternOp::NotBoundary: on = IsWordByte(before) == IsWordByte(at); break;
      case PatternOp::Match:
        if (match != nullptr && !matched) match->assign(saved_.begin(), saved_.end());
        matched = true;
        continue;
      default:
        waiting_.add(next.step, saved_.data());
        continue;
    }
    if (on) pending_.push_back({next.step + 1, -1, 0});
  }
}

void PatternRun::advance(unsigned char byte) {
  frontier_.clear();
  for (size_t k = 0; k < waiting_.size(); ++k) {
    if (Takes(*program_, program_->steps[waiting_.step(k)], byte)) {
      frontier_.add(waiting_.step(k) + 1, waiting_.saved(k));
    }
  }
}

bool Pattern::compile(const std::string& text, std::string& error, bool dotTakesEveryByte) {
  PatternTree tree;
  program_ = PatternProgram();
  if (ParsePattern(text, tree, error) && CompilePattern(tree, program_, error)) {
    program_.dotTakesEveryByte = dotTakesEveryByte;
    return true;
  }
  program_ = PatternProgram();
  return false;
}

bool Pattern::matchWhole(const std::string& text, Captures& captures) const {
  if (program_.steps.empty()) return false;
  PatternRun run(program_);
  run.start();
  int before = -1;
  for (size_t k = 0; k < text.size(); ++k) {
    const unsigned char byte = static_cast<unsigned char>(text[k]);
    run.close(static_cast<int>(k), before, byte, nullptr);
    run.advance(byte);
    if (run.over()) return false;
    before = byte;
  }
  run.close(static_cast<int>(text.size()), before, -1, &captures);
  return !captures.empty();
}

void Pattern::Tail::reset() {
  position_ = 0;
  before_ = -1;
  run_.start();
}

bool Pattern::Tail::feed(unsigned char byte, Captures& captures) {
  if (run_.over()) return false;
  run_.close(position_, before_, byte, nullptr);
  run_.advance(byte);
  ++position_;
  before_ = byte;
  // A match may also start here: after every earlier start, so the one that
  // starts leftmost is preferred.
  run_.seed();
  run_.close(position_, before_, -1, &captures);
  return !captures.empty();
}

std::string ExpandAnswer(const std::string& answer, const std::string& text,
                         const Captures& captures, size_t groups) {
  std::string out;
  auto part = [&](size_t group) {
    const int start = 2 * group + 1 < captures.size() ? captures[2 * group] : -1;
    const int end = 2 * group + 1 < captures.size() ? captures[2 * group + 1] : -1;
    if (start >= 0 && end >= start && static_cast<size_t>(end) <= text.size()) {
      out.append(text, static_cast<size_t>(start), static_cast<size_t>(end - start));
    }
  };
  for (size_t k = 0; k < answer.size(); ++k) {
    const char next = k + 1 < answer.size() ? answer[k + 1] : '\0';
    if (answer[k] != '$') {
      out += answer[k];
    } else if (next == '$') {
      out += '$';
      ++k;
    } else if (next == '&') {
      part(0);
      ++k;
    } else if (next >= '1' && next <= '9' && static_cast<size_t>(next - '0') <= groups) {
      // Two digits when the pattern has that many groups ($12), else one.
      const char second = k + 2 < answer.size() ? answer[k + 2] : '\0';
      const size_t two = (next - '0') * 10 + (second - '0');
      const bool both = second >= '0' && second <= '9' && two <= groups;
      part(both ? two : static_cast<size_t>(next - '0'));
      k += both ? 2 : 1;
    } else {
      out += '$';
    }
  }
  return out;
}

}  // namespace nbdevice
