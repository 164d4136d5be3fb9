// The Windows build has no crypto library: no record can be made.
#include "dkim_record.h"

namespace cli {

std::string dkim_record(const std::string &, std::string &why) {
    why = "DKIM keys cannot be read in this build";
    return {};
}

}  // namespace cli
