// The classic judgements of smtp/reply_quirks.h.
#include "smtp/reply_quirks.h"

#include <string_view>

namespace vellor::smtp {
namespace {

bool code_word(const Reply &r, int code) { return r.code == code && (r.separator == ' ' || r.separator == '-'); }

}  // namespace

// Read as a C string: up to the first NUL, as the classic check read it.
bool helo_passes(const Reply &r) { return std::string_view(r.text.c_str()).find("250") != std::string_view::npos; }

bool data_accepted(const Reply &r) { return code_word(r, 250); }

bool data_ready(const Reply &r) { return code_word(r, 354); }

}  // namespace vellor::smtp
