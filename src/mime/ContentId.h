// Content ids that name the attachments of a request.
#pragma once

#include <functional>
#include <string>

namespace vorlen {

// A new random version-4 GUID in registry form without braces: 36 characters, upper-case
// hexadecimal digits in groups 8-4-4-4-12 joined by hyphens.
std::string NewContentId();
// Replaces the source of NewContentId (tests use fixed ids); an empty function restores the
// random source. Thread-safe.
void SetContentIdSource(std::function<std::string()> source);

}  // namespace vorlen
