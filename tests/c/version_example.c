/* A C99 application linked against libvellorapi: prints the library's
 * version, build code and structure revision. */
#include <stdio.h>

#include "vellorapi.h"

int main(void) {
    char version[24], build[12], date[16];
    DWORD revision = 0;
    VellorAPI_Library_Version(version, build, &revision);
    VellorAPI_Get_Build_Date(date);
    printf("%s %s %u (%s)\n", version, build, (unsigned)revision, date);
    return 0;
}
