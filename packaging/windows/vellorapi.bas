Attribute VB_Name = "VellorAPI"
' vellorapi.bas - the mail-sending library's declarations for programs
' written in Basic dialects: the records as Type blocks (field for field and
' byte for byte the C records of vellorapi.h and korvexapi.h, 32-bit layout)
' and every export of vellorapi.dll, each Declare naming its decorated
' export through Alias. Strings in records are fixed-length and
' NUL-terminated; pass a record ByRef (the default) and a text ByVal.
' A status callback is a Function in a standard module with four arguments
' (ByRef request As SMTPSEND_STRUCTURE, ByVal status As Long,
' ByVal text As Long, ByVal code As Long) As Long, passed with AddressOf.
Option Explicit

Public Const VELLOR_STATUS_FAILURE As Long = 920
Public Const VELLOR_STATUS_PROGRESS As Long = 921
Public Const VELLOR_STATUS_DELIVERED As Long = 922
Public Const VELLOR_STATUS_PERCENT As Long = 926
Public Const VELLOR_STATUS_DIALOGUE As Long = 927

Public Type SMTPSEND_STRUCTURE
    szServer As String * 256
    szServerIP As String * 16
    szHeloDomain As String * 256
    nPort As Long
    szMessageFile As String * 260
    szMsgExtension As String * 12
    bDeleteMessage As Integer
    szSender As String * 256
    szAuthUser As String * 128
    szAuthPassword As String * 128
    bUseEnvFile As Integer
    bSingleRecipient As Integer
    szRecipient As String * 256
    bMultipleRecipients As Integer
    hRecipients As Long
    lpRecipients As Long
    nRecipients As Integer
    hMessage As Long
    dwReserved1 As Long
    nMaxMessages As Long
    szMxIPAddress(0 To 7) As String * 16
    szErrorText As String * 256
    nMxIPAddresses As Integer
    nMessagesSent As Long
    dwReserved2 As Long
    nErrorCode As Integer
    nWinsockError As Integer
    nInitialized As Integer
    nAttempt As Integer
    wReserved3 As Integer
    bViaMX As Integer
    bMessageDirectory As Integer
    abReserved As String * 6
End Type

Public Type SMTPINIT_STRUCTURE
    szApplication As String * 128
    szVersion As String * 24
    szTcpVersion As String * 24
    szBuild As String * 8
    szTcpBuild As String * 12
    nLibraryCode As Long
    dwStructRevision As Long
    dwTcpStructRevision As Long
    bLibraryInitialized As Integer
    nReserved As Long
    dwReserved As Long
End Type

Public Type VALIDMXIPS
    nValidIPs As Long
    szIPAddress(0 To 19) As String * 24
    szMxHost(0 To 19) As String * 128
    nPreference(0 To 19) As Long
End Type

Public Type MXQUERY_ENTRY
    szMxHost As String * 416
    nPreference As Long
    abReserved(0 To 55) As Byte
End Type

Public Type MXQUERY_STRUCTURE
    nType As Long
    nMxServers As Long
    mx(0 To 19) As MXQUERY_ENTRY
End Type

Public Declare Sub VELLOR_Initialize_Library Lib "vellorapi.dll" Alias "_VELLOR_Initialize_Library@12" _
    (library As SMTPINIT_STRUCTURE, ByVal reserved As Long, ByVal applicationName As String)
Public Declare Sub VELLOR_Closedown_Library Lib "vellorapi.dll" Alias "_VELLOR_Closedown_Library@8" _
    (library As SMTPINIT_STRUCTURE, ByVal applicationName As String)
Public Declare Sub VellorAPI_Library_Version Lib "vellorapi.dll" Alias "?VellorAPI_Library_Version@@YGXPAD0PAK@Z" _
    (ByVal version As String, ByVal build As String, structRevision As Long)
Public Declare Sub VellorAPI_Get_Build_Date Lib "vellorapi.dll" Alias "?VellorAPI_Get_Build_Date@@YGXPAD@Z" _
    (ByVal buildDate As String)
Public Declare Function VELLOR_Initialize_Structure Lib "vellorapi.dll" Alias "_VELLOR_Initialize_Structure@8" _
    (library As SMTPINIT_STRUCTURE, request As SMTPSEND_STRUCTURE) As Long
Public Declare Sub VELLOR_Get_Error_Details Lib "vellorapi.dll" Alias "_VELLOR_Get_Error_Details@4" _
    (request As SMTPSEND_STRUCTURE)
Public Declare Function VELLOR_Send_Message Lib "vellorapi.dll" Alias "_VELLOR_Send_Message@12" _
    (ByVal applicationName As String, request As SMTPSEND_STRUCTURE, ByVal statusCallback As Long) As Long
Public Declare Function VELLOR_Get_Message_Details Lib "vellorapi.dll" Alias "_VELLOR_Get_Message_Details@4" _
    (request As SMTPSEND_STRUCTURE) As Long
Public Declare Function VELLOR_Get_Mx_Servers Lib "vellorapi.dll" Alias "_VELLOR_Get_Mx_Servers@16" _
    (ByVal domain As String, result As MXQUERY_STRUCTURE, ByVal dnsServer As String, _
     ByVal useDefaultServer As Long) As Long
Public Declare Sub VELLOR_Resolve_MX_Hostnames_To_Ipaddresses Lib "vellorapi.dll" _
    Alias "?VELLOR_Resolve_MX_Hostnames_To_Ipaddresses@@YGXPAUMXQUERY_STRUCTURE@@PAUVALIDMXIPS@@@Z" _
    (mxResult As MXQUERY_STRUCTURE, validIPs As VALIDMXIPS)
Public Declare Function VELLOR_resolve_mx_domain Lib "vellorapi.dll" _
    Alias "?VELLOR_resolve_mx_domain@@YGHPBD0PAUVALIDMXIPS@@HH@Z" _
    (ByVal domain As String, ByVal dnsServer As String, validIPs As VALIDMXIPS, ByVal reserved As Long, _
     ByVal resolveAddresses As Long) As Long
Public Declare Function VELLOR_Perform_DNS_Lookup Lib "vellorapi.dll" Alias "_VELLOR_Perform_DNS_Lookup@8" _
    (ByVal applicationName As String, request As SMTPSEND_STRUCTURE) As Long
Public Declare Function VELLOR_Get_Default_Dns_Server Lib "vellorapi.dll" Alias "_VELLOR_Get_Default_Dns_Server@4" _
    (ByVal buffer As String) As Long
' Beyond the classic table: an option for this record only ("OAuth2Token",
' "SecureConnection", ...); 0 when taken, -1 with the reason in szErrorText.
Public Declare Function VELLOR_Set_Request_Option Lib "vellorapi.dll" Alias "_VELLOR_Set_Request_Option@12" _
    (request As SMTPSEND_STRUCTURE, ByVal name As String, ByVal value As String) As Long
' Beyond the classic table: the addresses of a host of either family
' (familyAsked 4, 6 or 46), IPv4 first; 0 when one was found, else -1.
Public Const VELLOR_FAMILY_IPV4 As Long = 4
Public Const VELLOR_FAMILY_IPV6 As Long = 6
Public Const VELLOR_FAMILY_BOTH As Long = 46
Public Type VELLOR_HOST_ADDRESSES
    nAddresses As Long
    nReserved As Long
    szAddress(0 To 15) As String * 48
End Type
Public Declare Function VELLOR_Get_Host_Addresses Lib "vellorapi.dll" Alias "_VELLOR_Get_Host_Addresses@12" _
    (ByVal hostName As String, ByVal familyAsked As Long, found As VELLOR_HOST_ADDRESSES) As Long
