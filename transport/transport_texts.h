// The texts of transport/ (see transport_texts.def), named in
// vellor::transport::texts. Relies on nothing.
#pragma once

namespace vellor::transport::texts {

#pragma push_macro("TEXT")  // windows.h defines a TEXT of its own
#undef TEXT
#define TEXT(name, text) inline constexpr char name[] = text;
#include "transport/transport_texts.def"
#undef TEXT
#pragma pop_macro("TEXT")

}  // namespace vellor::transport::texts
