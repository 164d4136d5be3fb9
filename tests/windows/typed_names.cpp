// The four exports whose names encode their argument types, declared with
// C++ linkage and the records' own types: compiled for 32-bit Windows by
// clang in the Microsoft mode, their symbol names are the type-decorated
// export names the i686 vellorapi.dll must carry.
typedef struct MXQUERY_STRUCTURE MXQUERY_STRUCTURE;
typedef struct VALIDMXIPS VALIDMXIPS;
void __stdcall VellorAPI_Library_Version(char *version, char *build, unsigned long *structRevision) {}
void __stdcall VellorAPI_Get_Build_Date(char *date) {}
void __stdcall VELLOR_Resolve_MX_Hostnames_To_Ipaddresses(MXQUERY_STRUCTURE *mxResult, VALIDMXIPS *validIPs) {}
int __stdcall VELLOR_resolve_mx_domain(const char *domain, const char *dnsServer, VALIDMXIPS *validIPs, int reserved,
                                       int resolveAddresses) {
    return 0;
}
