// The texts of platform/ (see platform_texts.def), named in
// vellor::platform::texts. Relies on nothing.
#pragma once

namespace vellor::platform::texts {

#pragma push_macro("TEXT")  // windows.h defines a TEXT of its own
#undef TEXT
#define TEXT(name, text) inline constexpr char name[] = text;
#include "platform/platform_texts.def"
#undef TEXT
#pragma pop_macro("TEXT")

}  // namespace vellor::platform::texts
