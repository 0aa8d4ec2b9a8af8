// Bytes as the wire's tools show them to a person: the spy's log, device
// files, the runner's output; and the small readings of text they share.
// Pure code: no Windows here.
#pragma once

#include <string>

namespace nbwire {

// The text with non-printable bytes made visible: \r, \n, \t, \\, \" and
// \xHH for the rest.
std::string Visible(const std::string& bytes);

// The visible text in double quotes: "ID\r\n".
std::string Quoted(const std::string& bytes);

// The text without the `blanks` at either end.
std::string Trimmed(const std::string& text, const char* blanks = " ");

// The value of a hex digit in either case; -1 for any other character.
int HexDigit(char c);

}  // namespace nbwire
