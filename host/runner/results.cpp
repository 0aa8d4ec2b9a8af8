#include "host/runner/results.h"

#include <cstdio>

namespace nbrun {
namespace {

// The length of the UTF-8 sequence at `at`, or 0 when the bytes are none.
size_t Utf8Length(const std::string& text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  const size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds < 0 ? 0.0 : seconds);
  return text;
}

// "poll.nbs" from "C:\pub\poll.nbs"; a build lists the cases under it.
std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "poll" from "poll.nbs": tools read a dot in a class name as a package's.
std::string Stem(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

const char* EndName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Failed: return "mistake";
    case Outcome::OutOfTime: return "max-seconds";
    case Outcome::Interrupted: return "interrupted";
    case Outcome::RunnerFailed: return "runner-failed";
    default: return "";
  }
}

}  // namespace

std::string XmlText(const std::string& text) {
  std::string xml;
  for (size_t at = 0; at < text.size(); ++at) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c >= 0x80) {
      const size_t length = Utf8Length(text, at);
      if (length == 0) {
        xml += "&#" + std::to_string(c) + ";";
      } else {
        xml += text.substr(at, length);
        at += length - 1;
      }
      continue;
    }
    switch (c) {
      case '&': xml += "&amp;"; break;
      case '<': xml += "&lt;"; break;
      case '>': xml += "&gt;"; break;
      case '"': xml += "&quot;"; break;
      case '\n': xml += "&#10;"; break;
      case '\t': xml += "&#9;"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          xml += hex;
        } else {
          xml += static_cast<char>(c);
        }
    }
  }
  return xml;
}

Results::Results(const std::string& source)
    : source_(source), suite_(source.empty() ? "prompt" : BaseName(source)), classname_(Stem(suite_)) {}

void Results::expectation(const std::string& where, int pass, bool held, const std::string& what,
                          double seconds) {
  Case c;
  // "poll.nbs:21" wherever the script was: the case's name stays when the
  // build's folder changes.
  c.name = !source_.empty() && where.rfind(source_, 0) == 0 ? suite_ + where.substr(source_.size()) : where;
  if (pass > 0) c.name += " pass " + std::to_string(pass);
  c.seconds = seconds - last_;
  (held ? c.what : c.failure) = what;
  cases_.push_back(c);
  last_ = total_ = seconds;
}

void Results::warning(const std::string& text) { warnings_.push_back(text); }

void Results::end(Outcome outcome, const std::string& message, double seconds) {
  total_ = seconds;
  if (outcome == Outcome::Done || outcome == Outcome::ExpectFailed) return;
  Case c;
  c.name = "the run's end";
  c.seconds = seconds - last_;
  c.error = message;
  c.type = EndName(outcome);
  cases_.push_back(c);
}

std::string Results::xml() const {
  int failures = 0, errors = 0;
  std::string body;
  for (const Case& c : cases_) {
    failures += !c.failure.empty();
    errors += !c.error.empty();
    body += "    <testcase name=\"" + XmlText(c.name) + "\" classname=\"" + XmlText(classname_) +
            "\" time=\"" + Seconds(c.seconds) + "\"";
    if (!c.failure.empty()) {
      body += ">\n      <failure message=\"" + XmlText(c.failure) + "\" type=\"Expect\">" +
              XmlText(c.failure) + "</failure>\n    </testcase>\n";
    } else if (!c.error.empty()) {
      body += ">\n      <error message=\"" + XmlText(c.error) + "\" type=\"" + c.type + "\">" +
              XmlText(c.error) + "</error>\n    </testcase>\n";
    } else {
      body += ">\n      <system-out>" + XmlText(c.what) + "</system-out>\n    </testcase>\n";
    }
  }
  std::string warnings;
  for (const std::string& warning : warnings_) warnings += XmlText("warning: " + warning) + "\n";
  if (!warnings.empty()) body += "    <system-err>" + warnings + "</system-err>\n";
  const std::string counts = " tests=\"" + std::to_string(cases_.size()) + "\" failures=\"" +
                             std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
                             "\" skipped=\"0\" time=\"" + Seconds(total_) + "\"";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"nbrun\"" + counts +
         ">\n  <testsuite name=\"" + XmlText(suite_) + "\"" + counts + ">\n" + body +
         "  </testsuite>\n</testsuites>\n";
}

}  // namespace nbrun
