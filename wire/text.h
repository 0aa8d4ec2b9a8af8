// Bytes as the wire's tools show them to a person: the spy's log, device
// files, the runner's output. Pure code: no Windows here.
#pragma once

#include <string>

namespace nbwire {

// The text with non-printable bytes made visible: \r, \n, \t, \\, \" and
// \xHH for the rest.
std::string Visible(const std::string& bytes);

}  // namespace nbwire
