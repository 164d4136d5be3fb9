// A fake companion library linked in place of korvexapi: it reports the
// version it is told to, records every call, and fails Start
// when asked. No network.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fake {

struct Korvex {
    std::string version = "2.61.0.30";
    std::string build = "060125";
    uint32_t revision = 450194;
    int start_result = 0;
    std::vector<std::string> calls;  // operation names in call order
};

Korvex &korvex();

}  // namespace fake
