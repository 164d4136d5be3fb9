/*
 * korvexapi.h - the companion TCP/DNS library: starts and stops the network
 * session, resolves names, answers MX queries, opens and closes connections.
 * Plain C (C99 and C++), fixed record layouts checked at compile time for
 * 32-bit and 64-bit builds.
 */
#ifndef KORVEXAPI_H
#define KORVEXAPI_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define KORVEX_API __stdcall
#elif defined(__i386__)
#define KORVEX_API __attribute__((stdcall, visibility("default")))
#else
#define KORVEX_API __attribute__((visibility("default")))
#endif

#if defined(__cplusplus)
#define KORVEX_STATIC_ASSERT(c, m) static_assert(c, m)
extern "C" {
#elif defined(__GNUC__)
#define KORVEX_STATIC_ASSERT(c, m) __extension__ _Static_assert(c, m)
#else
#define KORVEX_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

/* The companion's opaque state block; 180 bytes. */
typedef struct TCPLIBRARY_STRUCTURE {
    uint32_t dwOpaque[45];
} TCPLIBRARY_STRUCTURE;

/* One connection record; 4636 bytes, of which the mail library uses a few. */
typedef struct TCPSESSION_STRUCTURE {
    uint32_t nSocket;          /*   0: socket, 0 = none */
    uint32_t dwReserved0;      /*   4 */
    char szAddress[8][24];     /*   8: dotted addresses of the last lookup */
    uint32_t dwReserved1;      /* 200 */
    int16_t nAddresses;        /* 204: entries in szAddress */
    int16_t nLastError;        /* 206: error of a failed connect/send/receive */
    uint32_t dwReserved2;      /* 208 */
    int32_t nSendBlockSize;    /* 212: bytes per send in progress mode */
    uint32_t dwReserved3;      /* 216 */
    char szHostAddress[28];    /* 220: address to connect to / reverse-resolve */
    uint32_t nPort;            /* 248: TCP port to connect to */
    uint8_t abCompanion[4384]; /* 252: the companion's own */
} TCPSESSION_STRUCTURE;

#define KORVEX_MAX_MX 20

typedef struct MXQUERY_ENTRY {
    char szMxHost[416];
    int32_t nPreference;
    uint8_t abReserved[56];
} MXQUERY_ENTRY;

/* The answer of an MX query; 9528 bytes. */
typedef struct MXQUERY_STRUCTURE {
    int32_t nType;      /* 15 when the answer lists mail exchangers */
    int32_t nMxServers; /* entries that follow, at most 20 */
    MXQUERY_ENTRY mx[KORVEX_MAX_MX];
} MXQUERY_STRUCTURE;

/* Addresses of both families, for the lookups and connections of
 * KorvexAPI_Get_Host_Addresses and KorvexAPI_Connect_Addresses; 776 bytes.
 * Each entry is an IPv4 dotted address or an IPv6 address in its text form
 * (without brackets). The classic records above stay IPv4 only. */
#define KORVEX_MAX_ADDRESSES 16
#define KORVEX_ADDRESS_CHARS 48
typedef struct KORVEX_ADDRESSES {
    int32_t nAddresses; /* entries in szAddress, at most 16 */
    int32_t nReserved;
    char szAddress[KORVEX_MAX_ADDRESSES][KORVEX_ADDRESS_CHARS];
} KORVEX_ADDRESSES;

/* Families asked of KorvexAPI_Get_Host_Addresses. */
#define KORVEX_FAMILY_IPV4 4
#define KORVEX_FAMILY_IPV6 6
#define KORVEX_FAMILY_BOTH 46

/* MX query status values left in the status variable. */
#define KORVEX_MX_OK          1    /* answer holds mail exchangers */
#define KORVEX_MX_SERVER_FAIL (-1) /* server failure, refused or unreachable */
#define KORVEX_MX_NO_DOMAIN   (-2) /* no such domain */
#define KORVEX_MX_TIMEOUT     (-3) /* no answer within the time-out */
#define KORVEX_MX_BAD_ANSWER  (-4) /* malformed answer or bad query name */
#define KORVEX_MX_NO_RECORDS  (-9) /* the domain exists but has no MX record */

KORVEX_API int32_t KorvexAPI_Initialize_Library(TCPLIBRARY_STRUCTURE *block, int32_t reserved, int32_t flag,
                                                const char *name);
KORVEX_API int32_t KorvexAPI_Initialize_Structure(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *session);
KORVEX_API int32_t KorvexAPI_Library_Version(char *version /* [24] */, char *build /* [12] */,
                                             uint32_t *structRevision);
KORVEX_API int32_t KorvexAPI_Start_Winsock(TCPLIBRARY_STRUCTURE *block, int32_t mode);
KORVEX_API int32_t KorvexAPI_Stop_Winsock(TCPLIBRARY_STRUCTURE *block);
KORVEX_API int32_t KorvexAPI_Closedown_Library(TCPLIBRARY_STRUCTURE *block, const char *name);
KORVEX_API int32_t KorvexAPI_Get_IPAddress_From_Hostname(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *session,
                                                         const char *hostName, char *address /* [16] */);
KORVEX_API int32_t KorvexAPI_Get_Host_By_Address(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *session,
                                                 char *hostName /* [256] */);
KORVEX_API int32_t KorvexAPI_Make_Connection(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *session, int32_t flag);
KORVEX_API int32_t KorvexAPI_Close_Socket(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *session, int32_t flag);
KORVEX_API int32_t KorvexAPI_Dns_Get_Mx_Server(const char *domain, MXQUERY_STRUCTURE *answer, int32_t *status,
                                               const char *dnsServer, int32_t useDefaultServer);
/* A query of any record type (TLSA 52, TXT 16, MX 15, A 1, ...) to the
 * default servers asking for DNSSEC data (the AD bit, and EDNS0 with the DO
 * bit): the answer's bytes as received, whatever its response code (the
 * caller reads it, NXDOMAIN included), into answer, which holds size bytes
 * (a longer answer fails, never cut), and their count into *length.
 * *loopback is 1 when every server asked is on a loopback address.
 * 0 with *status KORVEX_MX_OK, or -1 with *status a failure value above
 * (-1 SERVFAIL, refused or unreachable; -3 time-out; -4 bad name or answer). */
KORVEX_API int32_t KorvexAPI_Dns_Query(const char *name, int32_t type, uint8_t *answer, int32_t size, int32_t *length,
                                       int32_t *status, int32_t *loopback);
/* Writes the first default DNS server ("a.b.c.d", or "a.b.c.d:port" when the
 * port is not 53) into buffer, which holds at least 24 characters.
 * 0 when a server is known, -1 otherwise (buffer then empty). */
KORVEX_API int32_t KorvexAPI_Get_Default_Dns_Server(char *buffer);
/* The addresses of hostName of the families asked (KORVEX_FAMILY_*): an
 * address literal stands for itself (of its family); otherwise the hosts
 * file, then DNS (A and AAAA queries). IPv4 addresses come first, each
 * family in the order of its answer. 0 when at least one was found, else
 * -1 (found then holds none). */
KORVEX_API int32_t KorvexAPI_Get_Host_Addresses(const char *hostName, int32_t family, KORVEX_ADDRESSES *found);
/* A TCP connection of the session to one of targets' addresses on the
 * session's nPort, tried in their order. staggerMs above 0 races them
 * (Happy Eyeballs): the next connect starts staggerMs after the last one
 * started, or at once when one fails; the first to complete wins, the
 * others are closed, and the whole race ends within one time-out. With
 * staggerMs 0 they are tried one after another, each within one time-out.
 * sourceAddress, when not null or empty, is the local address every
 * connection is bound to (targets of the other family are passed over).
 * 0 with the session's nSocket set and the winner's index in *winner (when
 * not null); -1 with the Winsock code of the last failure in nLastError;
 * -2 when sourceAddress is not an address of this host (nLastError 10049)
 * or not an address at all (10022), before any connect. */
KORVEX_API int32_t KorvexAPI_Connect_Addresses(TCPLIBRARY_STRUCTURE *block, TCPSESSION_STRUCTURE *session,
                                               const KORVEX_ADDRESSES *targets, int32_t staggerMs,
                                               const char *sourceAddress, int32_t *winner);

#if defined(__cplusplus)
}
#endif

KORVEX_STATIC_ASSERT(sizeof(TCPLIBRARY_STRUCTURE) == 180, "TCPLIBRARY_STRUCTURE size");
KORVEX_STATIC_ASSERT(sizeof(TCPSESSION_STRUCTURE) == 4636, "TCPSESSION_STRUCTURE size");
KORVEX_STATIC_ASSERT(offsetof(TCPSESSION_STRUCTURE, nSocket) == 0, "nSocket");
KORVEX_STATIC_ASSERT(offsetof(TCPSESSION_STRUCTURE, szAddress) == 8, "szAddress");
KORVEX_STATIC_ASSERT(offsetof(TCPSESSION_STRUCTURE, nAddresses) == 204, "nAddresses");
KORVEX_STATIC_ASSERT(offsetof(TCPSESSION_STRUCTURE, nLastError) == 206, "nLastError");
KORVEX_STATIC_ASSERT(offsetof(TCPSESSION_STRUCTURE, nSendBlockSize) == 212, "nSendBlockSize");
KORVEX_STATIC_ASSERT(offsetof(TCPSESSION_STRUCTURE, szHostAddress) == 220, "szHostAddress");
KORVEX_STATIC_ASSERT(offsetof(TCPSESSION_STRUCTURE, nPort) == 248, "nPort");
KORVEX_STATIC_ASSERT(sizeof(MXQUERY_ENTRY) == 476, "MX entry size");
KORVEX_STATIC_ASSERT(sizeof(MXQUERY_STRUCTURE) == 9528, "MXQUERY_STRUCTURE size");
KORVEX_STATIC_ASSERT(offsetof(MXQUERY_STRUCTURE, nType) == 0, "nType");
KORVEX_STATIC_ASSERT(offsetof(MXQUERY_STRUCTURE, nMxServers) == 4, "nMxServers");
KORVEX_STATIC_ASSERT(offsetof(MXQUERY_STRUCTURE, mx) == 8, "mx entries");
KORVEX_STATIC_ASSERT(offsetof(MXQUERY_ENTRY, nPreference) == 416, "nPreference");
KORVEX_STATIC_ASSERT(sizeof(KORVEX_ADDRESSES) == 776, "KORVEX_ADDRESSES size");
KORVEX_STATIC_ASSERT(offsetof(KORVEX_ADDRESSES, szAddress) == 8, "szAddress of KORVEX_ADDRESSES");

#endif
