// The process's table of record bindings; see record_table.h.
#include "platform/record_table.h"

namespace vellor::platform {

RecordTable &record_table() {
    static RecordTable *t = new RecordTable;
    return *t;
}

}  // namespace vellor::platform
