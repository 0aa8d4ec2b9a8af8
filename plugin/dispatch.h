// Running an action by number, and answering edit requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue.h"

namespace wl {

// At most this many bytes of a parameter text are taken.
constexpr size_t kMaxParameterText = 16u * 1024u * 1024u;

// The host's first parameter text, copied up to its first NUL (or the limit).
// A null list or a null text gives an empty text.
std::string CopyParameterText(const char* const* parameterList);

// "<#...#>": the host's marker, answered with 1 and no action. The two pairs
// may overlap ("<#>").
bool IsMarkerForm(const std::string& text);

// nbExecAction: 1 for a number in the edition's table (after its handler has
// run, or at once for the marker form), 0 otherwise.
int32_t ExecAction(const Edition& edition, int32_t number, const char* const* parameterList);

// nbEditAction: 1 when the number is one of the edition's actions.
int32_t EditAction(const Edition& edition, int32_t number);

}  // namespace wl
