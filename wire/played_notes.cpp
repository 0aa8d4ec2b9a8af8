#include "played_notes.h"

namespace nbwire {
namespace {

PlayedNoteSink noteSink = nullptr;

}  // namespace

void SetPlayedNoteSink(PlayedNoteSink sink) { noteSink = sink; }

void PlayedNote(const std::string& where, const std::string& text) {
  if (noteSink != nullptr) noteSink(where, text);
}

}  // namespace nbwire
