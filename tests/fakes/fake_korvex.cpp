// The fake companion; see fake_korvex.h.
#include "fakes/fake_korvex.h"

#include <cstring>

#include "korvexapi.h"

namespace fake {
Korvex &korvex() {
    static Korvex k;
    return k;
}
}  // namespace fake

namespace {
// Records the call and gives its result.
int32_t call(const char *op, int32_t result) {
    fake::korvex().calls.push_back(op);
    return result;
}
}  // namespace

extern "C" {
KORVEX_API int32_t KorvexAPI_Initialize_Library(TCPLIBRARY_STRUCTURE *, int32_t, int32_t, const char *) {
    return call("Initialize_Library", 0);
}
KORVEX_API int32_t KorvexAPI_Initialize_Structure(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *) {
    return call("Initialize_Structure", 0);
}
KORVEX_API int32_t KorvexAPI_Library_Version(char *version, char *build, uint32_t *rev) {
    std::strcpy(version, fake::korvex().version.c_str());
    std::strcpy(build, fake::korvex().build.c_str());
    *rev = fake::korvex().revision;
    return 0;
}
KORVEX_API int32_t KorvexAPI_Start_Winsock(TCPLIBRARY_STRUCTURE *, int32_t) {
    return call("Start_Winsock", fake::korvex().start_result);
}
KORVEX_API int32_t KorvexAPI_Stop_Winsock(TCPLIBRARY_STRUCTURE *) { return call("Stop_Winsock", 0); }
KORVEX_API int32_t KorvexAPI_Closedown_Library(TCPLIBRARY_STRUCTURE *, const char *) {
    return call("Closedown_Library", 0);
}
KORVEX_API int32_t KorvexAPI_Get_IPAddress_From_Hostname(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *, const char *,
                                                         char *) {
    return call("Get_IPAddress_From_Hostname", -1);
}
KORVEX_API int32_t KorvexAPI_Get_Host_By_Address(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *, char *) {
    return call("Get_Host_By_Address", -1);
}
KORVEX_API int32_t KorvexAPI_Make_Connection(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *, int32_t) {
    return call("Make_Connection", -1);
}
KORVEX_API int32_t KorvexAPI_Close_Socket(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *, int32_t) {
    return call("Close_Socket", -1);
}
KORVEX_API int32_t KorvexAPI_Dns_Get_Mx_Server(const char *, MXQUERY_STRUCTURE *, int32_t *status, const char *,
                                               int32_t) {
    *status = -1;
    return call("Dns_Get_Mx_Server", -1);
}
KORVEX_API int32_t KorvexAPI_Get_Host_Addresses(const char *, int32_t, KORVEX_ADDRESSES *found) {
    found->nAddresses = 0;
    return call("Get_Host_Addresses", -1);
}
KORVEX_API int32_t KorvexAPI_Connect_Addresses(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *, const KORVEX_ADDRESSES *,
                                               int32_t, const char *, int32_t *) {
    return call("Connect_Addresses", -1);
}
KORVEX_API int32_t KorvexAPI_Dns_Query(const char *, int32_t, uint8_t *, int32_t, int32_t *length, int32_t *status,
                                       int32_t *loopback) {
    *length = *loopback = 0;
    *status = -1;
    return call("Dns_Query", -1);
}
KORVEX_API int32_t KorvexAPI_Get_Default_Dns_Server(char *buffer) {
    std::strcpy(buffer, "127.0.0.53");
    return call("Get_Default_Dns_Server", 0);
}
}
