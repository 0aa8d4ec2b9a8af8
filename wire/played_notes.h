// What a played device or server did that no real one would be blamed
// for: the faults, line changes and resets its file plays ("framing error
// by line 7", "cts off by line 3"). The played ports and connections hand
// each note here, with the port or server it came from, as it falls due;
// the program that plays them chooses where notes go (the spy's log), so
// a log never passes a played fault off as the device's own.
#pragma once

#include <string>

namespace nbwire {

using PlayedNoteSink = void (*)(const std::string& where, const std::string& text);

// Where notes go from now on; nullptr (the default): nowhere.
void SetPlayedNoteSink(PlayedNoteSink sink);

// One note from `where` ("COM3", "127.0.0.7:5000").
void PlayedNote(const std::string& where, const std::string& text);

}  // namespace nbwire
