// Where a played device is found: the file names under which Windows opens
// a COM port, and the places an author names for a device (a port, or a TCP
// server as a script writes it in wlTCPopen).
//
// A file name reaches a port in two ways:
//  - the device namespace: "\\.\COM12" (also "\\?\COM12") names the port
//    itself, any number; "\\.\" names, like other paths, lose trailing
//    blanks and dots, "\\?\" names are taken as they stand;
//  - the DOS device names COM1 to COM9: in any other path, the last part
//    names the port when what comes before its first "." or ":", without
//    trailing blanks, is one of them, in any case ("COM1", "com1:",
//    "COM1.0", "COM1.txt", "COM1 ", "C:\dir\COM1.log"). "COM12", "COM01",
//    "COM1abc" and " COM1" are ordinary file names, and so is a last part
//    of a network path ("\\server\share\COM1").
// These are the rules of Windows up to Windows 10 and of Wine, as the
// Windows documentation on naming files states them ("NUL.txt and
// NUL.tar.gz are both equivalent to NUL").
// Pure code: no Windows here.
#pragma once

#include <cstdint>
#include <string>

namespace nbwire {

// The port a file of this name is, as "COM12"; empty for any other name.
std::string PortOfFileName(const std::string& fileName);

// Whether Windows takes a file of this name for a device rather than a
// file: the last part (before its first "." or ":", without trailing
// blanks) is one of the names the Windows documentation on naming files
// reserves, in any case: CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9,
// COM and LPT with the superscript digits 1 to 3 (ISO 8859-1 or UTF-8),
// CONIN$ or CONOUT$ ("nul.dev", "C:\dir\aux.log", "com2.dev", "CON");
// or the path is in the device namespace ("\\.\anything", "\\?\COM1").
// Reading such a "file" reads a device (a real port, the console, for ever),
// writing one writes to it, so the tools refuse them.
bool NamesWindowsDevice(const std::string& path);

// The port a text names where a port is expected (an option, an action's
// field, a log's lines): "COM12" or "\\.\COM12" in any case, blanks
// around; "COM12", or empty for anything else.
std::string NamedPort(const std::string& text);

// A TCP server as a script reaches it: the host exactly as wlTCPopen is
// given it (a name or a dotted number) and the port.
struct ServerAddress {
  std::string host;
  uint16_t port = 0;
};

// "127.0.0.7:5000", "scale.local:7000" (blanks around allowed); false when
// the text is not a host (no blank, comma, colon or quote in it) followed
// by ":" and a port from 1 to 65535.
bool ParseServerAddress(const std::string& text, ServerAddress& address);

// "127.0.0.7:5000".
std::string ServerName(const ServerAddress& address);

// The address a dotted number such as "127.0.0.7" stands for, as its four
// bytes in order; false for anything else (a name, a part above 255).
bool DottedAddress(const std::string& host, uint8_t bytes[4]);

// The same host, as names of hosts compare: letters A to Z in any case.
bool SameHost(const std::string& a, const std::string& b);

// Where a device is played or an exchange was logged: a port or a TCP
// server, read once from the text that names it and passed on as it is.
struct Place {
  std::string port;      // "COM12"; empty for a server
  ServerAddress server;  // when `port` is empty
};

// A port as NamedPort reads it ("COM3", "\\.\com12"), else a server as
// ParseServerAddress reads it ("127.0.0.7:5000"); false for anything else.
bool ParsePlace(const std::string& text, Place& place);

// One place however it is written: the same port, or the same port of the
// same host (SameHost).
bool SamePlace(const Place& a, const Place& b);

// "COM12", "127.0.0.7:5000".
std::string PlaceName(const Place& place);

}  // namespace nbwire
