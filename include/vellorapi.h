/*
 * vellorapi.h - the mail-sending library's exported interface: the request
 * record, the library record, the MX list, the status callback, every export,
 * and the Win32-compatible global-memory functions an application uses for
 * recipient lists and message blocks. Plain C (C99 and C++).
 */
#ifndef VELLORAPI_H
#define VELLORAPI_H

#include <stddef.h>
#include <stdint.h>

#include "korvexapi.h"

#if defined(_WIN32)
/* Windows: __stdcall throughout; the DLL's .def file names the exports. */
#define VELLOR_API      __stdcall
#define VELLOR_CALLBACK __stdcall
#elif defined(__i386__)
#define VELLOR_API      __attribute__((stdcall, visibility("default")))
#define VELLOR_CALLBACK __attribute__((stdcall))
#else
#define VELLOR_API __attribute__((visibility("default")))
#define VELLOR_CALLBACK
#endif

#if defined(__cplusplus)
#define VELLOR_STATIC_ASSERT(c, m) static_assert(c, m)
extern "C" {
#elif defined(__GNUC__)
#define VELLOR_STATIC_ASSERT(c, m) __extension__ _Static_assert(c, m)
#else
#define VELLOR_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

#if defined(_WIN32)
/* ---- Windows: the system's own types; global memory is kernel32's ------- */
#if !defined(_WINDEF_)
typedef unsigned long DWORD;
typedef void *HGLOBAL;
#endif
#else
/* ---- Win32 stand-in types and global memory ---------------------------- */
typedef void *HGLOBAL;
typedef uint32_t DWORD;

#define GMEM_FIXED          0x0000u
#define GMEM_MOVEABLE       0x0002u
#define GMEM_ZEROINIT       0x0040u
#define GHND                0x0042u
#define GPTR                0x0040u
#define GMEM_LOCKCOUNT      0x00FFu
#define GMEM_INVALID_HANDLE 0x8000u

VELLOR_API HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes);
VELLOR_API HGLOBAL GlobalReAlloc(HGLOBAL mem, size_t bytes, uint32_t flags);
VELLOR_API void *GlobalLock(HGLOBAL mem);
VELLOR_API int32_t GlobalUnlock(HGLOBAL mem);
VELLOR_API HGLOBAL GlobalFree(HGLOBAL mem);
VELLOR_API uint32_t GlobalFlags(HGLOBAL mem);
VELLOR_API size_t GlobalSize(HGLOBAL mem);
#endif /* _WIN32 */

/* ---- Constants ---------------------------------------------------------- */
#define VELLOR_STATUS_FAILURE   920
#define VELLOR_STATUS_PROGRESS  921
#define VELLOR_STATUS_DELIVERED 922
#define VELLOR_STATUS_PERCENT   926
/* Sent only with the Transcript option on: one line of the SMTP dialogue.
   Code 0: a command the library sent (login data shown as ****); a reply
   code (e.g. 250): the server's whole reply; -1: a note (no reply within
   the time-out, connection closed, TLS started). */
#define VELLOR_STATUS_DIALOGUE 927

#define VELLOR_ERR_HELO_REFUSED      901
#define VELLOR_ERR_SENDER_REFUSED    902
#define VELLOR_ERR_RECIPIENT_REFUSED 903
#define VELLOR_ERR_DATA_REFUSED      904
#define VELLOR_ERR_BAD_SERVER_NAME   905
#define VELLOR_ERR_DOMAIN_UNRESOLVED 906
#define VELLOR_ERR_NO_CONNECTION     907
#define VELLOR_ERR_NO_RECIPIENT_LIST 908
#define VELLOR_ERR_DOMAIN_REFUSED    909
#define VELLOR_ERR_NO_MESSAGE        910
#define VELLOR_ERR_NO_RECIPIENT      911
#define VELLOR_ERR_BAD_RECIPIENT     912
#define VELLOR_ERR_NO_MEMORY         913
#define VELLOR_ERR_LOCK_FAILED       914
#define VELLOR_ERR_UNRESOLVED        915
#define VELLOR_ERR_NO_SOCKET         916
#define VELLOR_ERR_AUTH_REFUSED      917
#define VELLOR_ERR_WINSOCK_START     918
#define VELLOR_ERR_ALL_MX_REFUSED    919
/* Beyond the classic codes: a DKIM key that cannot be read or used, or the
   DKIM options set only in part (the send fails before it connects). */
#define VELLOR_ERR_DKIM_KEY 930

/* Registry option names, under HKEY_LOCAL_MACHINE\Software\orvane\vellorapi\Options */
#define VELLOR_OPT_USELOGFILE      "UseLogFile"
#define VELLOR_OPT_LOGFILE         "logfile"
#define VELLOR_OPT_LOGFILEMAX      "logfilemax"
#define VELLOR_OPT_LOGFILEMIN      "logfilemin"
#define VELLOR_OPT_CALLBACK        "callback"
#define VELLOR_OPT_MSGEXTENSION    "MsgExtension"
#define VELLOR_OPT_SENDPERCENTSENT "SendPercentSent"

#define VELLOR_STRUCT_REVISION 450194u

/* ---- Records ------------------------------------------------------------ */
typedef struct SMTPSEND_STRUCTURE {
    char szServer[256];
    char szServerIP[16];
    char szHeloDomain[256];
    int32_t nPort;
    char szMessageFile[260];
    char szMsgExtension[12];
    int16_t bDeleteMessage;
    char szSender[256];
    char szAuthUser[128];
    char szAuthPassword[128];
    int16_t bUseEnvFile;
    int16_t bSingleRecipient;
    char szRecipient[256];
    int16_t bMultipleRecipients;
    HGLOBAL hRecipients;
    void *lpRecipients;
    int16_t nRecipients;
    HGLOBAL hMessage;
    uint32_t dwReserved1;
    int32_t nMaxMessages;
    char szMxIPAddress[8][16];
    char szErrorText[256];
    int16_t nMxIPAddresses;
    int32_t nMessagesSent;
    uint32_t dwReserved2;
    int16_t nErrorCode;
    int16_t nWinsockError;
    int16_t nInitialized;
    int16_t nAttempt;
    int16_t wReserved3;
    int16_t bViaMX;
    int16_t bMessageDirectory;
    char abReserved[6];
} SMTPSEND_STRUCTURE;

typedef struct SMTPINIT_STRUCTURE {
    char szApplication[128];
    char szVersion[24];
    char szTcpVersion[24];
    char szBuild[8];
    char szTcpBuild[12];
    int32_t nLibraryCode;
    uint32_t dwStructRevision;
    uint32_t dwTcpStructRevision;
    int16_t bLibraryInitialized;
    int32_t nReserved;
    uint32_t dwReserved;
} SMTPINIT_STRUCTURE;

#define VELLOR_MAX_VALID_MX 20

typedef struct VALIDMXIPS {
    int32_t nValidIPs;
    char szIPAddress[VELLOR_MAX_VALID_MX][24];
    char szMxHost[VELLOR_MAX_VALID_MX][128];
    int32_t nPreference[VELLOR_MAX_VALID_MX];
} VALIDMXIPS;

/* The addresses of a host of either family, for VELLOR_Get_Host_Addresses;
   776 bytes. Each entry is an IPv4 dotted address or an IPv6 address
   without brackets. */
#define VELLOR_MAX_HOST_ADDRESSES 16
typedef struct VELLOR_HOST_ADDRESSES {
    int32_t nAddresses;
    int32_t nReserved;
    char szAddress[VELLOR_MAX_HOST_ADDRESSES][48];
} VELLOR_HOST_ADDRESSES;

#define VELLOR_FAMILY_IPV4 4
#define VELLOR_FAMILY_IPV6 6
#define VELLOR_FAMILY_BOTH 46

/* The application's status callback; its result is ignored, except in a queue
   pass over several connections (the QueueConnections option), which a
   result other than 0 stops. */
typedef int32_t(VELLOR_CALLBACK *VELLOR_STATUS_CALLBACK)(SMTPSEND_STRUCTURE *request, int32_t status, const char *text,
                                                         int32_t code);

/* ---- Exports ------------------------------------------------------------ */
VELLOR_API void VELLOR_Initialize_Library(SMTPINIT_STRUCTURE *library, uint32_t reserved, const char *applicationName);
VELLOR_API void VELLOR_Closedown_Library(SMTPINIT_STRUCTURE *library, const char *applicationName);
VELLOR_API void VellorAPI_Library_Version(char *version, char *build, DWORD *structRevision);
VELLOR_API void VellorAPI_Get_Build_Date(char *date);
VELLOR_API int32_t VELLOR_Initialize_Structure(SMTPINIT_STRUCTURE *library, SMTPSEND_STRUCTURE *request);
VELLOR_API void VELLOR_Get_Error_Details(SMTPSEND_STRUCTURE *request);
VELLOR_API int32_t VELLOR_Send_Message(const char *applicationName, SMTPSEND_STRUCTURE *request,
                                       VELLOR_STATUS_CALLBACK statusCallback);
VELLOR_API int32_t VELLOR_Get_Message_Details(SMTPSEND_STRUCTURE *request);
VELLOR_API int32_t VELLOR_Get_Mx_Servers(const char *domain, MXQUERY_STRUCTURE *result, const char *dnsServer,
                                         int32_t useDefaultServer);
VELLOR_API void VELLOR_Resolve_MX_Hostnames_To_Ipaddresses(MXQUERY_STRUCTURE *mxResult, VALIDMXIPS *validIPs);
VELLOR_API int32_t VELLOR_resolve_mx_domain(const char *domain, const char *dnsServer, VALIDMXIPS *validIPs,
                                            int32_t reserved, int32_t resolveAddresses);
VELLOR_API int32_t VELLOR_Perform_DNS_Lookup(const char *applicationName, SMTPSEND_STRUCTURE *request);
VELLOR_API int32_t VELLOR_Get_Default_Dns_Server(char *buffer);
/* Beyond the classic table: an option for this record only (names compared
   without regard to case, values as text, numbers in decimal), over the
   options file or registry until the next VELLOR_Initialize_Structure on it
   (dwReserved2 then holds their mark: a byte copy of the record, which has
   none of them, is refused by VELLOR_Send_Message with 907). 0 when taken; -1 for an unknown name or an
   unusable value, the reason then in szErrorText. Safe from several threads. */
VELLOR_API int32_t VELLOR_Set_Request_Option(SMTPSEND_STRUCTURE *request, const char *name, const char *value);
/* Beyond the classic table: the addresses of hostName of the families asked
   (VELLOR_FAMILY_IPV4, _IPV6 or _BOTH): an address literal stands for
   itself; otherwise the hosts file, then DNS (A and AAAA queries, the
   servers of KORVEXAPI_DNS_SERVERS when set). IPv4 addresses first, each
   family in its answer's order, at most 16. 0 when one was found, else -1
   (nAddresses 0). */
VELLOR_API int32_t VELLOR_Get_Host_Addresses(const char *hostName, int32_t family, VELLOR_HOST_ADDRESSES *found);

#if defined(__cplusplus)
}
#endif

/* ---- Layout checks ------------------------------------------------------ */
#define VELLOR_OFF(f, o32, o64) \
    VELLOR_STATIC_ASSERT(offsetof(SMTPSEND_STRUCTURE, f) == (sizeof(void *) == 4 ? (o32) : (o64)), #f)
VELLOR_OFF(szServer, 0, 0);
VELLOR_OFF(szServerIP, 256, 256);
VELLOR_OFF(szHeloDomain, 272, 272);
VELLOR_OFF(nPort, 528, 528);
VELLOR_OFF(szMessageFile, 532, 532);
VELLOR_OFF(szMsgExtension, 792, 792);
VELLOR_OFF(bDeleteMessage, 804, 804);
VELLOR_OFF(szSender, 806, 806);
VELLOR_OFF(szAuthUser, 1062, 1062);
VELLOR_OFF(szAuthPassword, 1190, 1190);
VELLOR_OFF(bUseEnvFile, 1318, 1318);
VELLOR_OFF(bSingleRecipient, 1320, 1320);
VELLOR_OFF(szRecipient, 1322, 1322);
VELLOR_OFF(bMultipleRecipients, 1578, 1578);
VELLOR_OFF(hRecipients, 1580, 1584);
VELLOR_OFF(lpRecipients, 1584, 1592);
VELLOR_OFF(nRecipients, 1588, 1600);
VELLOR_OFF(hMessage, 1592, 1608);
VELLOR_OFF(dwReserved1, 1596, 1616);
VELLOR_OFF(nMaxMessages, 1600, 1620);
VELLOR_OFF(szMxIPAddress, 1604, 1624);
VELLOR_OFF(szErrorText, 1732, 1752);
VELLOR_OFF(nMxIPAddresses, 1988, 2008);
VELLOR_OFF(nMessagesSent, 1992, 2012);
VELLOR_OFF(dwReserved2, 1996, 2016);
VELLOR_OFF(nErrorCode, 2000, 2020);
VELLOR_OFF(nWinsockError, 2002, 2022);
VELLOR_OFF(nInitialized, 2004, 2024);
VELLOR_OFF(nAttempt, 2006, 2026);
VELLOR_OFF(wReserved3, 2008, 2028);
VELLOR_OFF(bViaMX, 2010, 2030);
VELLOR_OFF(bMessageDirectory, 2012, 2032);
VELLOR_OFF(abReserved, 2014, 2034);
VELLOR_STATIC_ASSERT(sizeof(SMTPSEND_STRUCTURE) == (sizeof(void *) == 4 ? 2020 : 2040), "SMTPSEND_STRUCTURE size");
#undef VELLOR_OFF

#define VELLOR_INIT_OFF(f, o) VELLOR_STATIC_ASSERT(offsetof(SMTPINIT_STRUCTURE, f) == (o), #f)
VELLOR_INIT_OFF(szApplication, 0);
VELLOR_INIT_OFF(szVersion, 128);
VELLOR_INIT_OFF(szTcpVersion, 152);
VELLOR_INIT_OFF(szBuild, 176);
VELLOR_INIT_OFF(szTcpBuild, 184);
VELLOR_INIT_OFF(nLibraryCode, 196);
VELLOR_INIT_OFF(dwStructRevision, 200);
VELLOR_INIT_OFF(dwTcpStructRevision, 204);
VELLOR_INIT_OFF(bLibraryInitialized, 208);
VELLOR_INIT_OFF(nReserved, 212);
VELLOR_INIT_OFF(dwReserved, 216);
VELLOR_STATIC_ASSERT(sizeof(SMTPINIT_STRUCTURE) == 220, "SMTPINIT_STRUCTURE size");
#undef VELLOR_INIT_OFF

VELLOR_STATIC_ASSERT(offsetof(VALIDMXIPS, szIPAddress) == 4, "szIPAddress");
VELLOR_STATIC_ASSERT(offsetof(VALIDMXIPS, szMxHost) == 484, "szMxHost");
VELLOR_STATIC_ASSERT(offsetof(VALIDMXIPS, nPreference) == 3044, "nPreference");
VELLOR_STATIC_ASSERT(sizeof(VALIDMXIPS) == 3124, "VALIDMXIPS size");
VELLOR_STATIC_ASSERT(sizeof(VELLOR_HOST_ADDRESSES) == 776, "VELLOR_HOST_ADDRESSES size");

#endif
