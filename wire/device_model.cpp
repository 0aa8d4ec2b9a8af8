#include "device_model.h"

#include <algorithm>
#include <cstdlib>

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

Device::Device(const DeviceFile& file)
    : file_(file), cutter_(file.requestEnds), random_(file.seed), state_(file.initial) {
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
        group.pattern->compile(rule.request, error, file_.gapEnded);
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
  lineFreeUs_ = now * 1000;
  answers_.clear();
  ready_.clear();
  active_ = false;
  answersFree_ = now;
  frame_.clear();
  cutter_.clear();
  for (Group& group : groups_) {
    if (group.tail) group.tail->reset();
  }
  overflow_ = false;
  faults_ = 0;
  closed_ = false;
  reset_ = false;
  note(now, "seed " + std::to_string(file_.seed));
  running_.clear();
  for (const Timed& timed : file_.timed) running_.push_back({&timed, timed.mode.empty() ? now + timed.atMs : kNever});
  mode_.clear();
  enter(file_.startMode, now);
  noiseWaiting_ = false;
  noiseNext_ = file_.noise.leastMs == 0 ? kNever : now + draw(file_.noise.leastMs, file_.noise.mostMs);
}

// Streams of the mode left stop (what of them waits for the line is
// dropped); those of the mode entered start counting.
void Device::enter(const std::string& mode, Millis now) {
  const bool changed = mode != mode_;
  mode_ = mode;
  if (!changed) return;
  for (Running& running : running_) {
    if (running.timed->mode.empty()) continue;
    if (running.timed->mode == mode) {
      running.next = now + running.timed->atMs;
      continue;
    }
    running.next = kNever;
    if (!running.waiting) continue;
    running.waiting = false;
    for (auto at = ready_.begin(); at != ready_.end(); ++at) {
      if (at->second.kind != Job::Stream || at->second.stream != size_t(&running - running_.data())) continue;
      ready_.erase(at);
      break;
    }
  }
}

bool Device::inMode(const Group& group) const {
  return group.first->mode.empty() || group.first->mode == mode_;
}

// The first group after `after` (null: from the start) whose request `text`
// is; otherwise's once none is left.
Device::Group* Device::find(const std::string& text, Captures& captures, Group* after) {
  const bool others = after != nullptr && after->first->kind == RequestKind::Otherwise;
  if (!others) {
    for (size_t k = after == nullptr ? 0 : after - groups_.data() + 1; k < groups_.size(); ++k) {
      Group& group = groups_[k];
      const Rule& rule = *group.first;
      if (!inMode(group)) continue;
      if (rule.kind == RequestKind::Exact && text == rule.request) return &group;
      if (rule.kind == RequestKind::Pattern && group.pattern->matchWhole(text, captures)) return &group;
    }
  }
  for (Group& group : groups_) {
    if (group.first->kind != RequestKind::Otherwise || !inMode(group)) continue;
    return others ? nullptr : &group;
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
  if (file_.gapEnded) {
    endGapFrame(now);
    if (frame_.size() + bytes.size() <= kLongestRequest) frame_ += bytes;
    frameLast_ = now;
    return;
  }
  const bool cut = !file_.requestEnds.empty();
  for (char byte : bytes) {
    std::string request;
    Captures captures;
    if (cut) {
      if (cutter_.take(byte, request)) heard(request, now);
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

// A checksum the request carries (requests check): right, and taken off;
// wrong, and the request is not heard, as a device on a bus ignores a
// damaged frame.
bool TakeCheck(wlcodes::Checksum kind, std::string& request) {
  if (kind == wlcodes::Checksum::Nmea) {
    const size_t star = request.rfind('*');
    if (!wlcodes::SentenceChecks(request) || star == std::string::npos) return false;
    request.erase(star);
    return true;
  }
  if (!wlcodes::FrameChecks(kind, request)) return false;
  request.erase(request.size() - wlcodes::ChecksumSize(kind));
  return true;
}

void Device::heard(std::string request, Millis now) {
  if (file_.checked && !TakeCheck(file_.requestCheck, request)) return;
  if (request.empty()) return;
  Captures captures;
  for (Group* group = find(request, captures, nullptr); group != nullptr; group = find(request, captures, group)) {
    if (answer(*group, request, captures, now)) return;
  }
}

Millis Device::gapEnd() const {
  const uint64_t gapUs = std::max<uint64_t>(kShortestGapUs, uint64_t(charUs_) * 7 / 2);
  return frameLast_ + (gapUs + 999) / 1000;
}

void Device::endGapFrame(Millis now) {
  if (frame_.empty() || now < gapEnd()) return;
  const Millis end = gapEnd();
  std::string frame;
  frame.swap(frame_);
  heard(frame, end);
}

namespace {

bool OnlyTexts(const Answer& answer) {
  return std::all_of(answer.begin(), answer.end(), [](const Piece& piece) { return piece.text(); });
}

bool FillText(const Template& made, const Making& making, std::string& text) {
  text.clear();
  return Fill(made, making, text);
}

// A whole decimal number, the whole text.
bool ReadInteger(const std::string& text, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 10);
  return *end == '\0';
}

}  // namespace

Making Device::makingAt(Millis at) {
  Making making;
  making.state = &state_;
  making.random = &random_;
  making.utcMs = utcMs_ + static_cast<int64_t>(at) - static_cast<int64_t>(utcAt_);
  return making;
}

bool Device::answer(Group& group, const std::string& text, const Captures& captures, Millis now) {
  const Rule& rule = *group.members[group.turn % group.members.size()];
  Making making = makingAt(now);
  making.request = &text;
  if (rule.kind == RequestKind::Pattern) {
    making.captures = &captures;
    making.groups = group.pattern->groups();
  }
  Job job;
  job.base = now;
  job.kind = Job::Answer;
  if (!make(rule.answer, rule.delivery, making, job)) return false;
  ++group.turn;
  if (!rule.then.empty()) enter(rule.then, now);
  if (job.outputs.empty()) return true;
  if (file_.outOfOrder) {
    const Millis ready = now + job.outputs[0].waitMs;
    job.outputs[0].waitMs = 0;
    queue(std::move(job), ready, 1, made_++);
  } else {
    answers_.push_back(std::move(job));
  }
  return true;
}

// The sets come first, so the answer reports what they set; an answer
// that cannot be made sets nothing.
bool Device::make(const Answer& answer, const Delivery& delivery, const Making& making, Job& job) {
  std::vector<Undo> undo;
  if (applySets(delivery, making, undo) && makePieces(answer, delivery, making, job)) return true;
  for (auto at = undo.rbegin(); at != undo.rend(); ++at) {
    if (at->entry) state_.tables[at->name].entries[at->index] = at->number;
    else if (at->had) state_.values[at->name] = at->value;
    else state_.values.erase(at->name);
  }
  return false;
}

bool Device::applySets(const Delivery& delivery, const Making& making, std::vector<Undo>& undo) {
  for (const Setting& setting : delivery.sets) {
    std::string index, value;
    if (!FillText(setting.value, making, value) || (setting.entry && !FillText(setting.index, making, index))) {
      return false;
    }
    if (!setting.entry) {
      const auto found = state_.values.find(setting.name);
      const bool had = found != state_.values.end();
      undo.push_back({setting.name, false, 0, had, had ? found->second : "", 0});
      state_.values[setting.name] = value;
      continue;
    }
    Table& table = state_.tables[setting.name];
    int64_t entry = 0, number = 0;
    if (!ReadInteger(index, entry) || !ReadInteger(value, number)) return false;
    entry -= table.first;
    if (entry < 0 || entry >= static_cast<int64_t>(table.entries.size())) return false;
    undo.push_back({setting.name, true, static_cast<size_t>(entry), true, "", table.entries[entry]});
    table.entries[entry] = number;
  }
  return true;
}

bool Device::makePieces(const Answer& answer, const Delivery& delivery, const Making& making, Job& job) {
  // The answer's ending goes after its last text, before a close.
  size_t texts = 0;
  for (size_t k = 0; k < answer.size(); ++k) texts = answer[k].text() ? k + 1 : texts;
  std::string sent;  // what the answer sends, the span of its checksums
  for (size_t k = 0; k < answer.size(); ++k) {
    const Piece& piece = answer[k];
    Output out{piece.waitMostMs > piece.waitMs ? draw(piece.waitMs, piece.waitMostMs) : piece.waitMs, "", &piece};
    if (piece.text()) {
      const size_t before = sent.size();
      if (piece.made.fields.empty()) {
        sent += making.captures ? ExpandAnswer(piece.bytes, *making.request, *making.captures, making.groups)
                                : piece.bytes;
      } else if (!Fill(piece.made, making, sent)) {
        return false;
      }
      out.bytes = sent.substr(before);
      if (k + 1 == texts && !delivery.noEnd) out.bytes += file_.answerEnd;
    }
    job.outputs.push_back(std::move(out));
  }
  playFaults(delivery.faults, job);
  playFaults(file_.answerFaults, job);
  return true;
}

void Device::playFaults(const std::vector<Fault>& faults, Job& job) {
  for (const Fault& fault : faults) {
    const bool plays = fault.every != 0 ? ++faultCounts_[&fault] % fault.every == 0
                                        : random_.below(fault.in) < fault.chance;
    size_t total = 0;
    for (const Output& out : job.outputs) total += out.bytes.size();
    if (!plays || total == 0) continue;
    const std::string line = " by line " + std::to_string(fault.line);
    switch (fault.kind) {
      case Fault::Kind::Lose:
        for (Output& out : job.outputs) out.bytes.clear();
        job.notes.push_back("lost" + line);
        break;
      case Fault::Kind::Cut: {
        if (total < 2) break;
        size_t keep = fault.cutAfter != 0 ? std::min<size_t>(fault.cutAfter, total - 1)
                                          : 1 + random_.below(total - 1);
        job.notes.push_back("cut after " + std::to_string(keep) + " of " + std::to_string(total) + " bytes" + line);
        for (Output& out : job.outputs) {
          const size_t here = std::min(keep, out.bytes.size());
          out.bytes.resize(here);
          keep -= here;
        }
        break;
      }
      case Fault::Kind::Garble: {
        size_t at = random_.below(total);
        job.notes.push_back("garbled byte " + std::to_string(at + 1) + line);
        const char change = static_cast<char>(1 + random_.below(255));  // never 0: the byte differs
        for (Output& out : job.outputs) {
          if (at < out.bytes.size()) {
            out.bytes[at] = static_cast<char>(out.bytes[at] ^ change);
            break;
          }
          at -= out.bytes.size();
        }
        break;
      }
      case Fault::Kind::Repeat: {
        const size_t count = job.outputs.size();
        for (size_t k = 0; k < count; ++k) {
          if (!job.outputs[k].piece->text()) continue;
          Output again = job.outputs[k];
          if (k == 0) again.waitMs = 0;
          job.outputs.push_back(again);
        }
        job.notes.push_back("repeated" + line);
        break;
      }
    }
  }
}

void Device::queue(Job job, Millis ready, int rank, uint64_t order) {
  ready_.emplace(JobKey{ready, rank, order}, std::move(job));
}

bool Device::answerOut() const {
  if (active_ && current_.kind == Job::Answer) return true;
  for (const auto& waiting : ready_) {
    if (waiting.second.kind == Job::Answer) return true;
  }
  return false;
}

// In order, the next answer waits for the line once the one before it has
// ended.
void Device::promote() {
  if (answers_.empty() || answerOut()) return;
  Job job = std::move(answers_.front());
  answers_.pop_front();
  const Millis ready = std::max(job.base, answersFree_) + job.outputs[0].waitMs;
  job.outputs[0].waitMs = 0;
  queue(std::move(job), ready, 1, made_++);
}

void Device::makeOccurrences(Millis now) {
  const bool full = !backpressure_ && waiting() >= queueSize_;
  for (size_t k = 0; k < running_.size(); ++k) {
    while (!running_[k].waiting && running_[k].next <= now) makeOccurrence(k, now, full);
  }
  makeNoise(now, full);
}

void Device::makeOccurrence(size_t k, Millis now, bool full) {
  Running& running = running_[k];
  const Timed& timed = *running.timed;
  const uint32_t most = std::max(timed.everyMs, timed.everyMostMs);
  const uint64_t step = (uint64_t(timed.everyMs) + most) / 2;
  // Nobody reads and the queue is full, or the device is out of its port:
  // what a stream of bytes alone makes meanwhile is lost, so it moves on to
  // now at once (its random draws depend on when it is called, no more).
  const bool lost = full || unplugged_;
  if (lost && step != 0 && now - running.next > 2 * step && OnlyTexts(timed.answer)) {
    running.next += ((now - running.next) / step - 1) * step;
  }
  Job job;
  job.kind = Job::Stream;
  job.base = running.next;
  job.stream = k;
  const Making making = makingAt(running.next);
  const Millis due = running.next;
  running.next = timed.everyMs != 0 ? running.next + draw(timed.everyMs, most) : kNever;
  if (!make(timed.answer, timed.delivery, making, job)) return;
  if (unplugged_) {  // out of its port it sends nothing: only a plug in counts
    job.outputs.erase(std::remove_if(job.outputs.begin(), job.outputs.end(),
                                     [](const Output& out) { return !out.piece->plugIn; }),
                      job.outputs.end());
  }
  if (job.outputs.empty()) return;
  const Millis ready = due + job.outputs[0].waitMs;
  job.outputs[0].waitMs = 0;
  running.waiting = true;
  queue(std::move(job), ready, 0, k);
}

void Device::makeNoise(Millis now, bool full) {
  const Noise& noise = file_.noise;
  if (noiseWaiting_ || noiseNext_ > now) return;
  if (unplugged_) {
    noiseNext_ = now + draw(noise.leastMs, noise.mostMs);
    return;
  }
  if (full && now - noiseNext_ > noise.mostMs) noiseNext_ = now - noise.mostMs;
  Job job;
  job.kind = Job::Noise;
  job.base = noiseNext_;
  const char byte = noise.bytes.empty() ? static_cast<char>(random_.below(256))
                                        : noise.bytes[random_.below(noise.bytes.size())];
  job.outputs.push_back({0, std::string(1, byte), nullptr});
  job.notes.push_back("noise by line " + std::to_string(noise.line));
  noiseWaiting_ = true;
  queue(std::move(job), noiseNext_, 2, made_++);
  noiseNext_ += draw(noise.leastMs, noise.mostMs);
}

bool Device::startNext(Millis now) {
  promote();
  if (ready_.empty() || std::get<0>(ready_.begin()->first) > now) return false;
  currentDue_ = std::get<0>(ready_.begin()->first);
  current_ = std::move(ready_.begin()->second);
  ready_.erase(ready_.begin());
  if (current_.kind == Job::Stream) running_[current_.stream].waiting = false;
  if (current_.kind == Job::Noise) noiseWaiting_ = false;
  active_ = true;
  currentPiece_ = 0;
  const Millis start = std::max<Millis>(currentDue_, (lineFreeUs_ + 999) / 1000);
  for (const std::string& text : current_.notes) note(start, text);
  return true;
}

// Moves the job on the line along; true once it has ended.
bool Device::progress(Millis now) {
  const uint64_t nowUs = now * 1000;
  while (currentPiece_ < current_.outputs.size()) {
    Output& out = current_.outputs[currentPiece_];
    if (currentDue_ > now) return false;
    const uint64_t start = std::max<uint64_t>(lineFreeUs_, currentDue_ * 1000);
    const bool text = out.piece == nullptr || out.piece->text();
    if (!text && start > nowUs) return false;  // once the line has sent what came before
    if (unplugged_) out.bytes.clear();  // a device out of its port sends nothing; only its return counts
    if (!out.bytes.empty()) {
      size_t count = out.bytes.size();
      if (byteUs_ != 0) count = start + byteUs_ > nowUs ? 0 : std::min<uint64_t>(count, (nowUs - start) / byteUs_);
      const size_t room = queueSize_ > waiting() ? queueSize_ - waiting() : 0;
      if (backpressure_ && count > room) {  // the rest waits in the device, and the line with it
        count = room;
        lineFreeUs_ = nowUs;
      }
      if (count == 0) return false;
      const size_t from = queue_.size();
      queue_.append(out.bytes, 0, std::min(count, room));
      if (atOtherRate()) std::transform(queue_.begin() + from, queue_.end(), queue_.begin() + from, Garbled);
      if (count > room) overflow_ = true;
      lineFreeUs_ = std::max(lineFreeUs_, start + count * byteUs_);
      out.bytes.erase(0, count);
      if (!out.bytes.empty()) return false;
    } else {
      lineFreeUs_ = start;
    }
    const Millis due = currentDue_;
    if (++currentPiece_ < current_.outputs.size()) currentDue_ += current_.outputs[currentPiece_].waitMs;
    if (!text) {
      happen(*out.piece, due);
      if (closed_) return false;
      if (!active_) return true;  // a restart ended the job with everything else
    }
  }
  active_ = false;
  if (current_.kind == Job::Answer) answersFree_ = std::max<Millis>(currentDue_, (lineFreeUs_ + 999) / 1000);
  return true;
}

void Device::advance(Millis now) {
  if (closed_) return;
  restartIfDue(now);
  endGapFrame(now);
  while (!closed_) {
    makeOccurrences(now);
    if (active_ ? !progress(now) : !startNext(now)) break;
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
    active_ = false;
    answers_.clear();
    ready_.clear();
    running_.clear();
    noiseNext_ = kNever;
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
  frame_.clear();
  answers_.clear();
  for (auto at = ready_.begin(); at != ready_.end();) {
    const auto& outputs = at->second.outputs;
    const bool back = std::any_of(outputs.begin(), outputs.end(),
                                  [](const Output& out) { return out.piece != nullptr && out.piece->plugIn; });
    if (back) {
      ++at;
      continue;
    }
    if (at->second.kind == Job::Stream) running_[at->second.stream].waiting = false;
    if (at->second.kind == Job::Noise) noiseWaiting_ = false;
    at = ready_.erase(at);
  }
}

void Device::happenOnLine(const Piece& piece, Millis at) {
  const std::string by = " by line " + std::to_string(piece.line);
  if (piece.fault != LineFault::None) {
    faults_ |= 1u << static_cast<unsigned>(piece.fault);
    const bool isBreak = piece.fault == LineFault::Break;
    note(at, std::string(FaultName(piece.fault)) + (isBreak ? "" : " error") + by);
  }
  if (piece.modem.mask != 0) {
    modem_ = static_cast<uint8_t>((modem_ & ~piece.modem.mask) | (piece.modem.on & piece.modem.mask));
    note(at, ModemText(piece.modem) + by);
  }
  if (piece.reset) {
    note(at, "reset" + by);
    reset_ = true;  // a close, answered with an RST
    Piece close;
    close.close = true;
    happen(close, at);
  }
  if (piece.restart) {
    note(at, "restart" + by);
    open(at);
  }
}

void Device::restartIfDue(Millis now) {
  // A restart cuts what the device was sending: it does not wait for the
  // line, nor for the answers before it. The last one due counts.
  auto startsRestart = [now](const Job& job, Millis due) {
    return !job.outputs.empty() && job.outputs[0].piece != nullptr && job.outputs[0].piece->restart &&
           due + job.outputs[0].waitMs <= now;
  };
  const Piece* found = nullptr;
  Millis at = 0;
  auto consider = [&](const Job& job, Millis due) {
    if (!startsRestart(job, due)) return;
    found = job.outputs[0].piece;
    at = due + job.outputs[0].waitMs;
  };
  for (const Job& job : answers_) consider(job, job.base);
  for (const auto& waiting : ready_) consider(waiting.second, std::get<0>(waiting.first));
  if (found != nullptr) happenOnLine(*found, at);
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

Millis Device::nextOutput() const {
  if (closed_ || stalled()) return kNever;
  // When a piece falling due at `due` has its first byte in the queue, or
  // the line is free for a close.
  auto reached = [&](Millis due, bool text) -> Millis {
    if (byteUs_ == 0) return due;
    const uint64_t done = std::max<uint64_t>(lineFreeUs_, due * 1000) + (text ? byteUs_ : 0);
    return (done + 999) / 1000;
  };
  Millis next = kNever;
  if (active_) {  // it holds the line: nothing else goes before its next piece
    const Output& out = current_.outputs[currentPiece_];
    return reached(currentDue_, out.piece == nullptr || out.piece->text());
  }
  if (!ready_.empty()) {
    next = reached(std::get<0>(ready_.begin()->first), true);
  }
  if (!answers_.empty() && !answerOut()) {
    const Job& job = answers_.front();
    next = std::min(next, std::max(job.base, answersFree_) + job.outputs[0].waitMs);
  }
  for (const Running& running : running_) {
    if (running.waiting || running.next == kNever) continue;
    const Answer& answer = running.timed->answer;
    next = std::min(next, running.next + (answer.empty() ? 0 : answer[0].waitMs));
  }
  if (!noiseWaiting_) next = std::min(next, noiseNext_);
  if (!frame_.empty()) next = std::min(next, gapEnd());
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

std::vector<DeviceNote> Device::takeNotes() {
  std::vector<DeviceNote> taken;
  taken.swap(notes_);
  return taken;
}

}  // namespace nbdevice
