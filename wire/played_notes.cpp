#include "played_notes.h"

namespace nbwire {
namespace {

PlayedNoteSink sink = nullptr;

}  // namespace

void SetPlayedNoteSink(PlayedNoteSink s) { sink = s; }

void PlayedNote(const std::string& where, const std::string& text) {
  if (sink != nullptr) sink(where, text);
}

}  // namespace nbwire
