// The procedure table of VELLOR_Send_Message, in the order its rows are
// tested; tests replace entries to observe which procedure a request gets.
#include "submit/delivery.h"

namespace vellor {

namespace {
DeliveryTable real_table() {
    return DeliveryTable{relay_envelope_directory, relay_send,          mx_opening, mx_recipient_list,
                         mx_single_recipient,      mx_single_from_list, mx_envelope};
}
DeliveryTable g_table = real_table();
}  // namespace

DeliveryTable &delivery_table() { return g_table; }
void reset_delivery_table() { g_table = real_table(); }

}  // namespace vellor
