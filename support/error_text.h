// The text of a library error code, as VELLOR_Get_Error_Details gives it and
// the delivery's own failure reports quote it.
#pragma once

namespace vellor {

// 901 to 917 and 930 each their own text, every other code the
// unknown-code text.
const char *error_text(int code);

}  // namespace vellor
