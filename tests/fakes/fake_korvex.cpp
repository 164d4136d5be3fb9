// The fake companion; see fake_korvex.h.
#include "fakes/fake_korvex.h"

#include <algorithm>
#include <cstring>

#include "korvexapi.h"

namespace fake {
Korvex &korvex() {
    static Korvex k;
    return k;
}
int Korvex::count(const std::string &op) const { return static_cast<int>(std::count(calls.begin(), calls.end(), op)); }
}  // namespace fake

using fake::korvex;

extern "C" {
KORVEX_API int32_t KorvexAPI_Initialize_Library(TCPLIBRARY_STRUCTURE *, int32_t, int32_t, const char *) {
    korvex().calls.push_back("Initialize_Library");
    return 0;
}
KORVEX_API int32_t KorvexAPI_Initialize_Structure(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *) {
    korvex().calls.push_back("Initialize_Structure");
    return 0;
}
KORVEX_API int32_t KorvexAPI_Library_Version(char *version, char *build, uint32_t *rev) {
    std::strcpy(version, korvex().version.c_str());
    std::strcpy(build, korvex().build.c_str());
    *rev = korvex().revision;
    return 0;
}
KORVEX_API int32_t KorvexAPI_Start_Winsock(TCPLIBRARY_STRUCTURE *, int32_t) {
    korvex().calls.push_back("Start_Winsock");
    return korvex().start_result;
}
KORVEX_API int32_t KorvexAPI_Stop_Winsock(TCPLIBRARY_STRUCTURE *) {
    korvex().calls.push_back("Stop_Winsock");
    return 0;
}
KORVEX_API int32_t KorvexAPI_Closedown_Library(TCPLIBRARY_STRUCTURE *, const char *) {
    korvex().calls.push_back("Closedown_Library");
    return 0;
}
KORVEX_API int32_t KorvexAPI_Get_IPAddress_From_Hostname(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *, const char *,
                                                         char *) {
    korvex().calls.push_back("Get_IPAddress_From_Hostname");
    return -1;
}
KORVEX_API int32_t KorvexAPI_Get_Host_By_Address(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *, char *) {
    korvex().calls.push_back("Get_Host_By_Address");
    return -1;
}
KORVEX_API int32_t KorvexAPI_Make_Connection(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *, int32_t) {
    korvex().calls.push_back("Make_Connection");
    return -1;
}
KORVEX_API int32_t KorvexAPI_Close_Socket(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *, int32_t) {
    korvex().calls.push_back("Close_Socket");
    return -1;
}
KORVEX_API int32_t KorvexAPI_Dns_Get_Mx_Server(const char *, MXQUERY_STRUCTURE *, int32_t *status, const char *,
                                               int32_t) {
    korvex().calls.push_back("Dns_Get_Mx_Server");
    *status = -1;
    return -1;
}
KORVEX_API int32_t KorvexAPI_Get_Default_Dns_Server(char *buffer) {
    korvex().calls.push_back("Get_Default_Dns_Server");
    std::strcpy(buffer, "127.0.0.53");
    return 0;
}
}
