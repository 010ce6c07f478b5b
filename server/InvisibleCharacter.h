// Characters a person does not see as text: they end lines, reorder or hide what follows.
#pragma once

namespace vorlen {

// Controls (C0, DEL, C1 with NEL), line and paragraph separators and format characters
// (bidirectional overrides and isolates, zero-width characters, the byte order mark).
bool IsInvisibleCharacter(char32_t c);

}  // namespace vorlen
