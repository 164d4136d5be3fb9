/* Both public headers compile as C99 (also with -m32, which checks the
 * 32-bit layout assertions). */
#include "vellorapi.h"
#include "korvexapi.h"

int header_check_sizes(void) {
    return (int)(sizeof(SMTPSEND_STRUCTURE) + sizeof(SMTPINIT_STRUCTURE) + sizeof(VALIDMXIPS) +
                 sizeof(MXQUERY_STRUCTURE) + sizeof(TCPSESSION_STRUCTURE) + sizeof(TCPLIBRARY_STRUCTURE));
}
