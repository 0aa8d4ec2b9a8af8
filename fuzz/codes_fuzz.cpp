// Wirecodes' actions on any parameter text, with the properties they keep:
// a mistake leaves no value; codes written read back as the same bytes
// (text, hex digits, numbers by a layout); a frame with its checksum added
// checks; a sentence with its *hh checks. The first byte picks the action,
// the rest is its parameter text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "editions/wirecodes/codes_actions.h"
#include "plugin/params.h"

using namespace wl::wirecodes;

namespace {

using Action = Outcome (*)(const std::string&);
const Action kActions[] = {Checksum,   ChecksumText, Check, CheckText,      TextToCodes,    CodesToText,
                           HexToCodes, CodesToHex,   Code,  NumbersToCodes, CodesToNumbers, Bits};

void Require(bool holds) {
  if (!holds) std::abort();
}

// The codes a successful action wrote, as a byte string again.
std::string BytesOf(const std::string& codes) {
  const Outcome o = CodesToHex("v," + codes);
  Require(o.error == 0);
  const Outcome back = HexToCodes("v," + o.value);
  Require(back.error == 0 && back.value == codes);
  return o.value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const Outcome any = kActions[data[0] % (sizeof kActions / sizeof kActions[0])](text);
  // A result reaches a variable only when the text names one; a mistake
  // leaves none.
  Require(any.error != 0 || !any.variable.empty());
  Require(any.error == 0 || any.value.empty());

  // A text's codes read back as the text, whenever it holds no 0 byte.
  const Outcome codes = TextToCodes("v|" + text);
  Require(codes.error == 0);
  if (!text.empty()) {
    BytesOf(codes.value);
    const Outcome back = CodesToText("v," + codes.value);
    Require(text.find('\0') != std::string::npos ? back.error != 0 : back.value == text);
    // Its checksum added, the frame checks, in every kind.
    for (const char* kind : {"CRC16", "XMODEM", "CCITT", "LRC", "SUM8", "XOR8"}) {
      const Outcome sum = Checksum(std::string("v,") + kind + "," + codes.value);
      Require(sum.error == 0);
      Require(Check(std::string("v,") + kind + "," + codes.value + "," + sum.value).value == "1");
    }
    const Outcome hh = ChecksumText("v,NMEA|$" + text + "*");
    if (text.find('*') == std::string::npos && text.find_first_of("\r\n") == std::string::npos) {
      Require(CheckText("v,NMEA|$" + text + "*" + hh.value).value == "1");
    }
  }

  // Numbers by the layout the text starts with: the codes they make read
  // back as numbers that make the same codes (whole-number layouts).
  const size_t comma = text.find(',');
  const std::string layout = text.substr(0, comma);
  const Outcome made = NumbersToCodes("v," + text);
  if (made.error == 0 && layout.find_first_of("Ff") == std::string::npos) {
    const Outcome numbers = CodesToNumbers("v," + layout + ",0," + made.value);
    Require(numbers.error == 0);
    const Outcome again = NumbersToCodes("v," + layout + "," + numbers.value);
    Require(again.error == 0 && again.value == made.value);
  }
  return 0;
}
