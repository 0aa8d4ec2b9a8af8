// Wirecodes: checksums, byte codes and binary numbers for scripts, which
// have no XOR, no integer division and no byte operations. Identification
// texts and the catalogue, which drives registration, dispatch and the edit
// answers. Each action sets its result variable (empty on a mistake), then
// [wcErr].
#include <new>

#include "editions/wirecodes/codes_actions.h"
#include "editions/wirecodes/codes_errors.h"
#include "plugin/bridge.h"
#include "plugin/catalogue.h"
#include "plugin/params.h"

namespace wl {
namespace {

void Publish(const wirecodes::Outcome& outcome) {
  if (!outcome.variable.empty()) {
    SetHostVariable(outcome.variable, outcome.error == wirecodes::kDone ? outcome.value : std::string());
  }
  SetHostVariable("wcErr", NumberText(outcome.error));
}

// A result of several times the parameter text's size (the codes of a
// long text) may not fit, nor the bridge's copy of it: then the variable,
// the first field, is set empty and [wcErr] says so.
template <wirecodes::Outcome (*Action)(const std::string&)>
void Run(const std::string& parameters) {
  try {
    Publish(Action(parameters));
  } catch (const std::bad_alloc&) {
    const std::string variable = SplitFields(parameters.substr(0, parameters.find_first_of(",|")))[0];
    Publish({variable, wirecodes::kNoMemory, std::string()});
  }
}

const CatalogueEntry kCatalogue[] = {
    {0, "Wirecodes", nullptr, nullptr},
    {1, "wcChecksum",
     "wcChecksum 'var,kind,codes' Checksum of byte codes: CRC16 (Modbus), XMODEM, CCITT, LRC, SUM8, XOR8, NMEA",
     Run<wirecodes::Checksum>},
    {2, "wcChecksumText", "wcChecksumText 'var,kind|text' Checksum of a text: NMEA and LRC as two hex digits",
     Run<wirecodes::ChecksumText>},
    {3, "wcCheck", "wcCheck 'var,kind,codes' 1 when a frame's last codes are its checksum, else 0",
     Run<wirecodes::Check>},
    {4, "wcCheckText", "wcCheckText 'var,kind|text' 1 when a sentence's checksum is right (NMEA $...*hh), else 0",
     Run<wirecodes::CheckText>},
    {5, "wcTextToCodes", "wcTextToCodes 'var|text' The codes of a text, as &Hxx", Run<wirecodes::TextToCodes>},
    {6, "wcCodesToText", "wcCodesToText 'var,codes' The text of codes 1 to 255", Run<wirecodes::CodesToText>},
    {7, "wcHexToCodes", "wcHexToCodes 'var,hex digits' Pairs of hex digits as codes", Run<wirecodes::HexToCodes>},
    {8, "wcCodesToHex", "wcCodesToHex 'var,codes' Codes as pairs of hex digits", Run<wirecodes::CodesToHex>},
    {9, "wcCode", "wcCode 'var|character' The code of one character; an empty byte is 0", Run<wirecodes::Code>},
    {10, "wcNumbersToCodes",
     "wcNumbersToCodes 'var,layout,numbers' Numbers as codes: U8 S8 U16 S16 U32 S32 F32, byte orders AB BA ABCD "
     "DCBA BADC CDAB, and checksums",
     Run<wirecodes::NumbersToCodes>},
    {11, "wcCodesToNumbers",
     "wcCodesToNumbers 'var,layout,decimals,codes' Codes as numbers, comma separated",
     Run<wirecodes::CodesToNumbers>},
    {12, "wcBits", "wcBits 'var,operation,a,b' AND OR XOR NOT SHL SHR BIT on whole numbers up to 32 bits",
     Run<wirecodes::Bits>},
};

const Edition kWirecodes = {
    "Wirecodes V1.0.0.0 PlugIn",
    "Norvale",
    "Checksums, byte codes and binary numbers for NeoBook scripts.",
    kCatalogue,
    sizeof kCatalogue / sizeof kCatalogue[0],
};

}  // namespace

const Edition& ThisEdition() { return kWirecodes; }

}  // namespace wl
