#include "server/InvisibleCharacter.h"

#include <unicode/uchar.h>

namespace vorlen {

bool IsInvisibleCharacter(char32_t c) {
  switch (u_charType(static_cast<UChar32>(c))) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    default:
      return false;
  }
}

}  // namespace vorlen
