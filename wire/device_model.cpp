#include "device_model.h"

#include <algorithm>

namespace nbdevice {
namespace {

// Without request endings the device keeps at most this much unheard input.
constexpr size_t kMaxPending = 4096;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

bool RequestCutter::take(char byte, std::string& request) {
  buffer_ += byte;
  for (const std::string& end : ends_) {
    if (!EndsWith(buffer_, end)) continue;
    request = buffer_.substr(0, buffer_.size() - end.size());
    buffer_.clear();
    return !request.empty();
  }
  if (ends_.empty() && buffer_.size() > kMaxPending) buffer_.erase(0, buffer_.size() - kMaxPending);
  return false;
}

Device::Device(const DeviceFile& file) : file_(file), cutter_(file.requestEnds) {
  for (const Rule& rule : file_.rules) {
    auto same = std::find_if(groups_.begin(), groups_.end(), [&](const Group& g) {
      return g.first->kind == rule.kind && g.first->request == rule.request;
    });
    if (same == groups_.end()) {
      Group group;
      group.first = &rule;
      if (rule.kind == RequestKind::Pattern) {
        group.pattern = std::make_unique<std::regex>(rule.request);
        group.tail = std::make_unique<std::regex>("(?:" + rule.request + ")$");
      }
      groups_.push_back(std::move(group));
      same = groups_.end() - 1;
    }
    same->members.push_back(&rule);
  }
}

void Device::open(Millis now) {
  queue_.clear();
  pending_.clear();
  cutter_.clear();
  overflow_ = false;
  closed_ = false;
  running_.clear();
  for (const Timed& timed : file_.timed) running_.push_back({&timed, now + timed.atMs});
}

Device::Group* Device::find(const std::string& text, bool whole, std::smatch& match) {
  for (Group& group : groups_) {
    const Rule& rule = *group.first;
    switch (rule.kind) {
      case RequestKind::Exact:
        if (whole ? text == rule.request : EndsWith(text, rule.request)) return &group;
        break;
      case RequestKind::Pattern:
        if (whole ? std::regex_match(text, match, *group.pattern)
                  : std::regex_search(text, match, *group.tail)) {
          return &group;
        }
        break;
      case RequestKind::Otherwise:
        break;
    }
  }
  if (!whole) return nullptr;  // without endings no request is ever "other"
  for (Group& group : groups_) {
    if (group.first->kind == RequestKind::Otherwise) return &group;
  }
  return nullptr;
}

void Device::hear(const std::string& bytes, Millis now) {
  if (closed_) return;
  const bool cut = !file_.requestEnds.empty();
  for (char byte : bytes) {
    std::string request;
    std::smatch match;
    if (cut) {
      if (!cutter_.take(byte, request)) continue;
      if (Group* group = find(request, true, match)) answer(*group, match, now);
    } else {
      cutter_.take(byte, request);
      // The match refers into the text searched: keep it alive until answered.
      const std::string heard = cutter_.pending();
      if (Group* group = find(heard, false, match)) {
        answer(*group, match, now);
        cutter_.clear();
      }
    }
  }
}

void Device::answer(Group& group, const std::smatch& match, Millis now) {
  const Rule& rule = *group.members[group.turn++ % group.members.size()];
  schedule(rule.answer, rule.kind == RequestKind::Pattern ? &match : nullptr, now);
}

void Device::schedule(const Answer& answer, const std::smatch* match, Millis from) {
  // The answer's ending goes after its last text, before a close.
  const size_t texts = !answer.empty() && answer.back().close ? answer.size() - 1 : answer.size();
  Millis at = from;
  for (size_t k = 0; k < answer.size(); ++k) {
    at += answer[k].waitMs;
    std::string bytes = match ? match->format(answer[k].bytes) : answer[k].bytes;
    if (k + 1 == texts) bytes += file_.answerEnd;
    pending_.emplace(at, Output{bytes, answer[k].close});
  }
}

void Device::advance(Millis now) {
  if (closed_) return;
  for (Running& running : running_) {
    while (running.next <= now) {
      schedule(running.timed->answer, nullptr, running.next);
      running.next = running.timed->everyMs ? running.next + running.timed->everyMs : kNever;
    }
  }
  while (!pending_.empty() && pending_.begin()->first <= now) {
    const Output& output = pending_.begin()->second;
    if (output.close) {
      closed_ = true;
      pending_.clear();
      running_.clear();
      return;
    }
    const size_t room = queueSize_ > queue_.size() ? queueSize_ - queue_.size() : 0;
    queue_ += output.bytes.substr(0, room);
    if (output.bytes.size() > room) overflow_ = true;
    pending_.erase(pending_.begin());
  }
}

Millis Device::nextOutput() const {
  Millis next = pending_.empty() ? kNever : pending_.begin()->first;
  for (const Running& running : running_) {
    if (running.next == kNever) continue;
    const Answer& answer = running.timed->answer;
    next = std::min(next, running.next + (answer.empty() ? 0 : answer[0].waitMs));
  }
  return next;
}

std::string Device::take(size_t most) {
  const std::string taken = queue_.substr(0, most);
  queue_.erase(0, taken.size());
  return taken;
}

bool Device::takeOverflow() {
  const bool was = overflow_;
  overflow_ = false;
  return was;
}

}  // namespace nbdevice
