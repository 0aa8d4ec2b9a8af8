// What a played device did that a real one would not tell: the seed its
// random choices came from, and each fault it played ("garbled byte 7 by
// line 12"). The played ports and servers hand each note here; the spy,
// while one is logging, writes it into its log, so that a log never passes
// a played fault off as the device's own.
#pragma once

#include <string>

namespace nbwire {

// `where`: the port ("COM1") or the server ("127.0.0.7:5025").
using PlayedNoteSink = void (*)(const std::string& where, const std::string& text);

// The one sink (nullptr: notes are dropped).
void SetPlayedNoteSink(PlayedNoteSink sink);
void PlayedNote(const std::string& where, const std::string& text);

}  // namespace nbwire
