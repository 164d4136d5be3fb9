// The texts of the library's reports, one catalogue: every log line,
// status callback text and transcript note a send reports is named in
// support/report_texts.def (a pattern for format() or fill() where it quotes
// values), so a text is found, and kept character for character, in one
// place. Applications and the tests read these texts as they are,
// misspellings included: never reword one. Relies on nothing.
#pragma once

namespace vellor::texts {

#pragma push_macro("TEXT")  // windows.h defines a TEXT of its own
#undef TEXT
#define TEXT(name, text) inline constexpr char name[] = text;
#include "support/report_texts.def"
#undef TEXT
#pragma pop_macro("TEXT")

}  // namespace vellor::texts
