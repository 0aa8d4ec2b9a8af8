// The bridge to the host: its two callbacks, the string slots it owns, and the
// one way results reach it (SetHostVariable).
#pragma once

#include <cstdint>
#include <string>

namespace wl {

// Keeps the host's add-action and set-variable callbacks (replacing earlier
// ones). Either may be null.
void SetHostLink(const void* addActionCallback, const void* setVariableCallback);

// Sets a host variable: name and value go as the addresses of the caller's
// NUL-terminated texts, which must be the action's own temporaries (valid
// only until the callback returns, as far as the host knows), an empty text
// as a null address. Does nothing before the host supplied its
// set-variable callback.
void SetHostVariable(const std::string& name, const std::string& value);

// Sets a host variable to a whole number's text (as NumberText writes it),
// written on the stack: the name is the caller's NUL-terminated text, an
// empty one going as a null address as above.
void SetHostNumber(const char* name, int64_t number);

// Calls the add-action callback for one catalogue entry, passing the count
// twice. A null or empty hint goes as a null address.
void RegisterAction(int32_t number, const char* name, const char* hint, const char* parameterTypes,
                    uint8_t parameterCount);

// Releases the block in a host-owned string slot (if any) and clears it.
void FreeHostString(char** slot);

// Fills a slot with a new GPTR block holding `text` and one NUL; the slot
// stays null for an empty text or when memory is short.
void PutHostString(char** slot, const std::string& text);

}  // namespace wl
