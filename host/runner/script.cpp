#include "script.h"

namespace nbrun {
namespace {

std::string Arguments(size_t count) {
  if (count == 0) return "no arguments";
  return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Reads one argument at `at`: a quoted text with doubled quotes inside, or a
// bare word. False when a quote is never closed.
bool ReadArgument(const std::string& line, size_t& at, std::string& argument) {
  if (line[at] != '"') {
    const size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) ++at;
    argument = line.substr(start, at - start);
    return true;
  }
  for (++at; at < line.size(); ++at) {
    if (line[at] != '"') {
      argument += line[at];
    } else if (at + 1 < line.size() && line[at + 1] == '"') {
      argument += '"';
      ++at;
    } else {
      ++at;
      return true;
    }
  }
  return false;
}

ParsedLine Malformed(const std::string& why) {
  ParsedLine parsed;
  parsed.ok = false;
  parsed.error = why;
  return parsed;
}

}  // namespace

ParsedLine ParseLine(const std::string& line) {
  const size_t nul = line.find('\0');
  if (nul != std::string::npos) {
    return Malformed("a NUL byte at column " + std::to_string(nul + 1) +
                     ": save the script as text");
  }
  size_t at = 0;
  while (at < line.size() && IsBlank(line[at])) ++at;
  ParsedLine parsed;
  if (at == line.size() || line[at] == '#' || line[at] == '.') return parsed;
  if (line[at] == ':') {
    size_t end = line.size();
    while (end > at && IsBlank(line[end - 1])) --end;
    parsed.statement.kind = StatementKind::Label;
    parsed.statement.name = line.substr(at + 1, end - at - 1);
    if (parsed.statement.name.empty()) return Malformed("a label needs a name after the colon");
    return parsed;
  }

  const size_t start = at;
  while (at < line.size() && !IsBlank(line[at]) && line[at] != '"') ++at;
  Statement& statement = parsed.statement;
  statement.name = line.substr(start, at - start);
  if (statement.name.empty()) return Malformed("a line must start with a name");
  while (true) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size()) break;
    std::string argument;
    if (!ReadArgument(line, at, argument)) return Malformed("a double quote is never closed");
    statement.arguments.push_back(argument);
  }

  statement.kind = StatementKind::Action;
  if (const StatementForm* form = FormNamed(statement.name)) {
    statement.kind = form->kind;
    if (statement.arguments.size() != form->arguments) {
      return Malformed(statement.name + " takes " + Arguments(form->arguments));
    }
  }
  if (statement.kind == StatementKind::Action && statement.arguments.size() > 1) {
    return Malformed("an action takes one parameter text in double quotes");
  }
  return parsed;
}

bool SplitScript(const std::string& bytes, std::vector<std::string>& lines, std::string& error) {
  lines.clear();
  if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0) {
    error = "the script is saved as UTF-16 (\"Unicode\"): save it as UTF-8 or ANSI";
    return false;
  }
  size_t at = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (at < bytes.size()) {
    const size_t end = bytes.find_first_of("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(at));
      break;
    }
    lines.push_back(bytes.substr(at, end - at));
    at = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return true;
}

namespace {

// [#13]: the byte with that code, 1 to 255; empty for any other name.
bool ByteCode(const std::string& name, std::string& byte) {
  if (name.size() < 2 || name.size() > 4 || name[0] != '#') return false;
  int code = 0;
  for (size_t at = 1; at < name.size(); ++at) {
    if (name[at] < '0' || name[at] > '9') return false;
    code = code * 10 + (name[at] - '0');
  }
  if (code < 1 || code > 255) return false;
  byte.assign(1, static_cast<char>(code));
  return true;
}

}  // namespace

std::string Substitute(const std::string& text, const Lookup& lookup) {
  std::string result;
  std::vector<std::string> open;  // the names of the brackets not yet closed, innermost last
  for (char c : text) {
    if (c == '[') {
      open.emplace_back();
    } else if (c == ']' && !open.empty()) {
      std::string value;
      if (!ByteCode(open.back(), value)) value = lookup(open.back());
      open.pop_back();
      (open.empty() ? result : open.back()) += value;
    } else {
      (open.empty() ? result : open.back()) += c;
    }
  }
  for (const std::string& unclosed : open) result += "[" + unclosed;
  return result;
}

std::string VariableName(const std::string& argument) {
  if (argument.size() >= 2 && argument.front() == '[' && argument.back() == ']') {
    return argument.substr(1, argument.size() - 2);
  }
  return argument;
}

std::string LowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace nbrun
