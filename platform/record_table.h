// The process's one table of what applications bind to their records by the
// record's address (the options VELLOR_Set_Request_Option sets, and each
// record's mark), since a fixed-layout record has no room for them. It owns
// nothing else: support/request_options.h checks what goes in, and a send
// takes its record's entry as a value of its own when it starts, so nothing
// of a request is read from here while it runs.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vellor::platform {

struct RecordTable {
    std::mutex mu;  // held for every use of the maps below
    std::map<const void *, std::map<std::string, std::string>> records;
    std::map<const void *, uint32_t> marks;
    uint32_t last_mark = 0;
};

// The table, made once and never destroyed (it outlives every thread's last send).
RecordTable &record_table();

}  // namespace vellor::platform
