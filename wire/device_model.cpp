#include "device_model.h"

#include <algorithm>

namespace nbdevice {
namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A byte sent at another rate than the port's, as the port receives it.
char Garbled(char byte) {
  return byte == '\r' || byte == '\n' ? byte : static_cast<char>(0x80 | (byte ^ 0x55));
}

}  // namespace

bool RequestCutter::take(char byte, std::string& request) {
  buffer_ += byte;
  for (const std::string& end : ends_) {
    if (!EndsWith(buffer_, end)) continue;
    request = buffer_.substr(0, buffer_.size() - end.size());
    const bool heard = !tooLong_ && !request.empty();
    clear();
    return heard;
  }
  if (ends_.empty() && buffer_.size() > kMostPending) {
    dropped_ += buffer_.size() - kMostPending;
    buffer_.erase(0, buffer_.size() - kMostPending);
  } else if (!ends_.empty() && buffer_.size() > kLongestRequest) {
    // Only an ending can follow: keep just enough to see one.
    tooLong_ = true;
    buffer_.erase(0, buffer_.size() - 8);
  }
  return false;
}

Device::Device(const DeviceFile& file) : file_(file), cutter_(file.requestEnds) {
  for (const Rule& rule : file_.rules) {
    auto same = std::find_if(groups_.begin(), groups_.end(), [&](const Group& g) {
      return g.first->kind == rule.kind && g.first->request == rule.request &&
             g.first->mode == rule.mode;
    });
    if (same == groups_.end()) {
      Group group;
      group.first = &rule;
      if (rule.kind == RequestKind::Pattern) {
        group.pattern = std::make_unique<Pattern>();
        std::string error;  // the file's reader refused patterns that do not compile
        group.pattern->compile(rule.request, error);
        group.tail = std::make_unique<Pattern::Tail>(*group.pattern);
      }
      groups_.push_back(std::move(group));
      same = groups_.end() - 1;
    }
    same->members.push_back(&rule);
  }
}

void Device::open(Millis now) {
  queue_.clear();
  head_ = 0;
  lineFreeUs_ = 0;
  pending_.clear();
  cutter_.clear();
  for (Group& group : groups_) {
    if (group.tail) group.tail->reset();
  }
  overflow_ = false;
  faults_ = 0;
  closed_ = false;
  reset_ = false;
  mode_ = file_.startMode;
  running_.clear();
  for (const Timed& timed : file_.timed) running_.push_back({&timed, now + timed.atMs});
}

bool Device::inMode(const Group& group) const {
  return group.first->mode.empty() || group.first->mode == mode_;
}

Device::Group* Device::find(const std::string& text, Captures& captures) {
  for (Group& group : groups_) {
    const Rule& rule = *group.first;
    if (!inMode(group)) continue;
    if (rule.kind == RequestKind::Exact && text == rule.request) return &group;
    if (rule.kind == RequestKind::Pattern && group.pattern->matchWhole(text, captures)) return &group;
  }
  for (Group& group : groups_) {
    if (group.first->kind == RequestKind::Otherwise && inMode(group)) return &group;
  }
  return nullptr;
}

Device::Group* Device::findTail(unsigned char byte, Captures& captures) {
  Group* found = nullptr;
  Captures mine;
  for (Group& group : groups_) {  // every tail takes every byte
    const Rule& rule = *group.first;
    const bool ends = rule.kind == RequestKind::Exact ? EndsWith(cutter_.pending(), rule.request)
                      : rule.kind == RequestKind::Pattern ? group.tail->feed(byte, mine)
                                                          : false;
    if (ends && found == nullptr && inMode(group)) {
      found = &group;
      captures = mine;
    }
  }
  return found;  // without endings no request is ever "other"
}

void Device::hear(const std::string& bytes, Millis now) {
  if (closed_ || unplugged_ || atOtherRate()) return;
  const bool cut = !file_.requestEnds.empty();
  for (char byte : bytes) {
    std::string request;
    Captures captures;
    if (cut) {
      if (!cutter_.take(byte, request)) continue;
      if (Group* group = find(request, captures)) answer(*group, request, captures, now);
      continue;
    }
    cutter_.take(byte, request);
    Group* group = findTail(static_cast<unsigned char>(byte), captures);
    if (group == nullptr) continue;
    // Captures count from the last request heard; the bytes kept may start later.
    const int dropped = static_cast<int>(cutter_.dropped());
    for (int& at : captures) {
      if (at >= 0) at = at > dropped ? at - dropped : 0;
    }
    answer(*group, cutter_.pending(), captures, now);
    cutter_.clear();
    for (Group& g : groups_) {
      if (g.tail) g.tail->reset();
    }
  }
}

void Device::answer(Group& group, const std::string& text, const Captures& captures, Millis now) {
  const Rule& rule = *group.members[group.turn++ % group.members.size()];
  if (rule.kind == RequestKind::Pattern) {
    schedule(rule.answer, &text, &captures, group.pattern->groups(), now);
  } else {
    schedule(rule.answer, nullptr, nullptr, 0, now);
  }
  if (!rule.then.empty()) mode_ = rule.then;
}

void Device::schedule(const Answer& answer, const std::string* text, const Captures* captures,
                      size_t groups, Millis from) {
  // The answer's ending goes after its last text, before a close.
  size_t texts = 0;
  for (size_t k = 0; k < answer.size(); ++k) texts = answer[k].text() ? k + 1 : texts;
  Millis at = from;
  for (size_t k = 0; k < answer.size(); ++k) {
    at += answer[k].waitMs;
    std::string bytes =
        text ? ExpandAnswer(answer[k].bytes, *text, *captures, groups) : answer[k].bytes;
    if (k + 1 == texts) bytes += file_.answerEnd;
    pending_.emplace(at, Output{bytes, &answer[k]});
  }
}

void Device::advance(Millis now) {
  if (closed_) return;
  restartIfDue(now);
  for (Running& running : running_) {
    const uint32_t every = running.timed->everyMs;
    // Output of a stream missed while nobody called: at most the last
    // kMostMissedRepeats of it (a queue holds no more anyway).
    if (every != 0 && running.next <= now && (now - running.next) / every > kMostMissedRepeats) {
      running.next += ((now - running.next) / every - kMostMissedRepeats) * every;
    }
    while (running.next <= now) {
      schedule(running.timed->answer, nullptr, nullptr, 0, running.next);
      running.next = every ? running.next + every : kNever;
    }
  }
  const uint64_t nowUs = now * 1000;
  while (!pending_.empty() && pending_.begin()->first <= now) {
    std::string& bytes = pending_.begin()->second.bytes;
    const Piece& piece = *pending_.begin()->second.piece;
    // The line sends one byte after another from when the output is due.
    const uint64_t start = std::max<uint64_t>(lineFreeUs_, pending_.begin()->first * 1000);
    if (!piece.text()) {  // once the line has sent what came before
      if (start > nowUs) break;
      const Millis due = pending_.begin()->first;
      pending_.erase(pending_.begin());
      happen(piece, due);
      if (closed_) return;
      continue;
    }
    // A device out of its port sends nothing; only its return counts.
    if (bytes.empty() || unplugged_) {  // a piece that came to nothing ("$1" of an empty group) holds nothing back
      pending_.erase(pending_.begin());
      continue;
    }
    size_t count = bytes.size();
    if (byteUs_ != 0) {
      count = start + byteUs_ > nowUs ? 0 : std::min<uint64_t>(count, (nowUs - start) / byteUs_);
      lineFreeUs_ = start + count * byteUs_;
    }
    if (count == 0) break;
    const size_t room = queueSize_ > waiting() ? queueSize_ - waiting() : 0;
    const size_t from = queue_.size();
    queue_.append(bytes, 0, std::min(count, room));
    if (atOtherRate()) std::transform(queue_.begin() + from, queue_.end(), queue_.begin() + from, Garbled);
    if (count > room) overflow_ = true;
    bytes.erase(0, count);
    if (!bytes.empty()) break;
    pending_.erase(pending_.begin());
  }
}

void Device::happen(const Piece& piece, Millis at) {
  if (piece.lineEvent()) {
    happenOnLine(piece, at);
    return;
  }
  if (piece.plugIn) {
    unplugged_ = false;
    return;
  }
  if (piece.close) {
    closed_ = true;
    pending_.clear();
    running_.clear();
    return;
  }
  if (!piece.unplug || unplugged_) return;
  // Pulled out: what it held and what it was sending are gone; a plug in
  // still to come stays.
  unplugged_ = true;
  removalError_ = piece.error;
  queue_.clear();
  head_ = 0;
  cutter_.clear();
  for (auto at = pending_.begin(); at != pending_.end();) {
    at = at->second.piece->plugIn ? std::next(at) : pending_.erase(at);
  }
}

void Device::happenOnLine(const Piece& piece, Millis at) {
  const std::string by = " by line " + std::to_string(piece.line);
  if (piece.fault != LineFault::None) {
    faults_ |= 1u << static_cast<unsigned>(piece.fault);
    const bool isBreak = piece.fault == LineFault::Break;
    lineNotes_.push_back(std::string(FaultName(piece.fault)) + (isBreak ? "" : " error") + by);
  }
  if (piece.modem.mask != 0) {
    modem_ = static_cast<uint8_t>((modem_ & ~piece.modem.mask) | (piece.modem.on & piece.modem.mask));
    lineNotes_.push_back(ModemText(piece.modem) + by);
  }
  if (piece.reset) {
    lineNotes_.push_back("reset" + by);
    reset_ = true;  // a close, answered with an RST
    closed_ = true;
    pending_.clear();
    running_.clear();
  }
  if (piece.restart) {
    lineNotes_.push_back("restart" + by);
    open(at);
  }
}

void Device::restartIfDue(Millis now) {
  // A restart cuts what the device was sending: it does not wait for the
  // line as the other pieces do. The last one due counts.
  const auto last = std::find_if(pending_.rbegin(), pending_.rend(), [now](const auto& due) {
    return due.first <= now && due.second.piece->restart;
  });
  if (last != pending_.rend()) happenOnLine(*last->second.piece, last->first);
}

void Device::hostLines(bool dtr, bool rts, Millis now) {
  const bool dtrChanged = dtr != hostDtr_, rtsChanged = rts != hostRts_;
  hostDtr_ = dtr;
  hostRts_ = rts;
  if (closed_ || unplugged_) return;
  if (dtrChanged) answerHostLine(dtr ? "dtr on" : "dtr off", now);
  if (rtsChanged) answerHostLine(rts ? "rts on" : "rts off", now);
}

void Device::answerHostLine(const std::string& change, Millis now) {
  for (Group& group : groups_) {
    if (group.first->kind != RequestKind::HostLine || group.first->request != change || !inMode(group)) continue;
    answer(group, change, Captures(), now);
    return;
  }
}

uint32_t Device::takeLineFaults() {
  const uint32_t faults = faults_;
  faults_ = 0;
  return faults;
}

std::vector<std::string> Device::takeLineNotes() {
  std::vector<std::string> notes;
  notes.swap(lineNotes_);
  return notes;
}

Millis Device::nextOutput() const {
  Millis next = kNever;
  if (!pending_.empty()) {
    next = pending_.begin()->first;
    if (byteUs_ != 0) {  // when the next byte has been on the line, or the line is free for a close
      const uint64_t done = std::max<uint64_t>(lineFreeUs_, next * 1000) +
                            (pending_.begin()->second.piece->text() ? byteUs_ : 0);
      next = (done + 999) / 1000;
    }
  }
  for (const Running& running : running_) {
    if (running.next == kNever) continue;
    const Answer& answer = running.timed->answer;
    next = std::min(next, running.next + (answer.empty() ? 0 : answer[0].waitMs));
  }
  return next;
}

std::string Device::take(size_t most) {
  std::string taken = queue_.substr(head_, most);
  head_ += taken.size();
  // The bytes taken are dropped once they are as many as those left, so
  // each byte is moved at most once more.
  if (head_ > queue_.size() - head_) {
    queue_.erase(0, head_);
    head_ = 0;
  }
  return taken;
}

bool Device::takeOverflow() {
  const bool was = overflow_;
  overflow_ = false;
  return was;
}

}  // namespace nbdevice
