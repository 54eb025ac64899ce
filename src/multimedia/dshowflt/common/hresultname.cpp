#include "hresultname.h"

#include "format.h"
#include "trace.h"

namespace {

struct CodeName {
    uint32_t dwCode;
    const char* pszText;
};

// Windows Sockets errors, by the low 16 bits of HRESULT_FROM_WIN32(code).
const CodeName g_winsockNames[] = {
    {10004, "WSAEINTR = A blocking operation was interrupted by a call to WSACancelBlockingCall"},
    {10009, "WSAEBADF = The file handle supplied is not valid"},
    {10013, "WSAEACCES = An attempt was made to access a socket in a way forbidden by its access "
            "permissions"},
    {10014, "WSAEFAULT = The system detected an invalid pointer address in attempting to use a "
            "pointer argument in a call"},
    {10022, "WSAEINVAL = An invalid argument was supplied"},
    {10024, "WSAEMFILE = Too many open sockets"},
    {10035, "WSAEWOULDBLOCK = A non-blocking socket operation could not be completed immediately"},
    {10036, "WSAEINPROGRESS = A blocking operation is currently executing"},
    {10037, "WSAEALREADY = An operation was attempted on a non-blocking socket that already had an "
            "operation in progress"},
    {10038, "WSAENOTSOCK = An operation was attempted on something that is not a socket"},
    {10039, "WSAEDESTADDRREQ = A required address was omitted from an operation on a socket"},
    {10040, "WSAEMSGSIZE = A message sent on a datagram socket was larger than the internal "
            "message buffer or some other network limit, or the buffer used to receive a datagram "
            "into was smaller than the datagram itself"},
    {10041, "WSAEPROTOTYPE = A protocol was specified in the socket function call that does not "
            "support the semantics of the socket type requested"},
    {10042, "WSAENOPROTOOPT = An unknown, invalid, or unsupported option or level was specified in "
            "a getsockopt or setsockopt call"},
    {10043, "WSAEPROTONOSUPPORT = The requested protocol has not been configured into the system, "
            "or no implementation for it exists"},
    {10044, "WSAESOCKTNOSUPPORT = The support for the specified socket type does not exist in this "
            "address family"},
    {10045,
     "WSAEOPNOTSUPP = The attempted operation is not supported for the type of object referenced"},
    {10046, "WSAEPFNOSUPPORT = The protocol family has not been configured into the system or no "
            "implementation for it exists"},
    {10047, "WSAEAFNOSUPPORT = An address incompatible with the requested protocol was used"},
    {10048, "WSAEADDRINUSE = Only one usage of each socket address (protocol/network address/port) "
            "is normally permitted"},
    {10049, "WSAEADDRNOTAVAIL = The requested address is not valid in its context"},
    {10050, "WSAENETDOWN = A socket operation encountered a dead network"},
    {10051, "WSAENETUNREACH = A socket operation was attempted to an unreachable network"},
    {10052, "WSAENETRESET = The connection has been broken due to keep-alive activity detecting a "
            "failure while the operation was in progress"},
    {10053, "WSAECONNABORTED = An established connection was aborted by the software in your host "
            "machine"},
    {10054, "WSAECONNRESET = An existing connection was forcibly closed by the remote host"},
    {10055, "WSAENOBUFS = An operation on a socket could not be performed because the system "
            "lacked sufficient buffer space or because a queue was full"},
    {10056, "WSAEISCONN = A connect request was made on an already connected socket"},
    {10057, "WSAENOTCONN = A request to send or receive data was disallowed because the socket is "
            "not connected and (when sending on a datagram socket using a sendto call) no address "
            "was supplied"},
    {10058, "WSAESHUTDOWN = A request to send or receive data was disallowed because the socket "
            "had already been shut down in that direction with a previous shutdown call"},
    {10059, "WSAETOOMANYREFS = Too many references to some kernel object"},
    {10060, "WSAETIMEDOUT = A connection attempt failed because the connected party did not "
            "properly respond after a period of time, or established connection failed because "
            "connected host has failed to respond"},
    {10061, "WSAECONNREFUSED = No connection could be made because the target machine actively "
            "refused it"},
    {10062, "WSAELOOP = Cannot translate name"},
    {10063, "WSAENAMETOOLONG = Name component or name was too long"},
    {10064, "WSAEHOSTDOWN = A socket operation failed because the destination host was down"},
    {10065, "WSAEHOSTUNREACH = A socket operation was attempted to an unreachable host"},
    {10066, "WSAENOTEMPTY = Cannot remove a directory that is not empty"},
    {10067, "WSAEPROCLIM = A Windows Sockets implementation may have a limit on the number of "
            "applications that may use it simultaneously"},
    {10068, "WSAEUSERS = Ran out of quota"},
    {10069, "WSAEDQUOT = Ran out of disk quota"},
    {10070, "WSAESTALE = File handle reference is no longer available"},
    {10071, "WSAEREMOTE = Item is not available locally"},
    {10091, "WSASYSNOTREADY = WSAStartup cannot function at this time because the underlying "
            "system it uses to provide network services is currently unavailable"},
    {10092, "WSAVERNOTSUPPORTED = The Windows Sockets version requested is not supported"},
    {10093,
     "WSANOTINITIALISED = Either the application has not called WSAStartup, or WSAStartup failed"},
    {10101, "WSAEDISCON = Returned by WSARecv or WSARecvFrom to indicate the remote party has "
            "initiated a graceful shutdown sequence"},
    {10102, "WSAENOMORE = No more results can be returned by WSALookupServiceNext"},
    {10103, "WSAECANCELLED = A call to WSALookupServiceEnd was made while this call was still "
            "processing. The call has been canceled"},
    {10104, "WSAEINVALIDPROCTABLE = The procedure call table is invalid"},
    {10105, "WSAEINVALIDPROVIDER = The requested service provider is invalid"},
    {10106,
     "WSAEPROVIDERFAILEDINIT = The requested service provider could not be loaded or initialized"},
    {10107, "WSASYSCALLFAILURE = A system call that should never fail has failed"},
    {10108, "WSASERVICE_NOT_FOUND = No such service is known. The service cannot be found in the "
            "specified name space"},
    {10109, "WSATYPE_NOT_FOUND = The specified class was not found"},
    {10110, "WSA_E_NO_MORE = No more results can be returned by WSALookupServiceNext"},
    {10111, "WSA_E_CANCELLED = A call to WSALookupServiceEnd was made while this call was still "
            "processing. The call has been canceled"},
    {10112, "WSAEREFUSED = A database query failed because it was actively refused"},
    {11001, "WSAHOST_NOT_FOUND = No such host is known"},
    {11002, "WSATRY_AGAIN = This is usually a temporary error during hostname resolution and means "
            "that the local server did not receive a response from an authoritative server"},
    {11003, "WSANO_RECOVERY = A non-recoverable error occurred during a database lookup"},
    {11004,
     "WSANO_DATA = The requested name is valid, but no data of the requested type was found"},
    {11005, "WSA_QOS_RECEIVERS = At least one reserve has arrived"},
    {11006, "WSA_QOS_SENDERS = At least one path has arrived"},
    {11007, "WSA_QOS_NO_SENDERS = There are no senders"},
    {11008, "WSA_QOS_NO_RECEIVERS = There are no receivers"},
    {11009, "WSA_QOS_REQUEST_CONFIRMED = Reserve has been confirmed"},
    {11010, "WSA_QOS_ADMISSION_FAILURE = Error due to lack of resources"},
    {11011, "WSA_QOS_POLICY_FAILURE = Rejected for administrative reasons - bad credentials"},
    {11012, "WSA_QOS_BAD_STYLE = Unknown or conflicting style"},
    {11013, "WSA_QOS_BAD_OBJECT = Problem with some part of the filterspec or providerspecific "
            "buffer in general"},
    {11014, "WSA_QOS_TRAFFIC_CTRL_ERROR = Problem with some part of the flowspec"},
    {11015, "WSA_QOS_GENERIC_ERROR = General QOS error"},
    {11016,
     "WSA_QOS_ESERVICETYPE = An invalid or unrecognized service type was found in the flowspec"},
    {11017,
     "WSA_QOS_EFLOWSPEC = An invalid or inconsistent flowspec was found in the QOS structure"},
    {11018, "WSA_QOS_EPROVSPECBUF = Invalid QOS provider-specific buffer"},
    {11019, "WSA_QOS_EFILTERSTYLE = An invalid QOS filter style was used"},
    {11020, "WSA_QOS_EFILTERTYPE = An invalid QOS filter type was used"},
    {11021, "WSA_QOS_EFILTERCOUNT = An incorrect number of QOS FILTERSPECs were specified in the "
            "FLOWDESCRIPTOR"},
    {11022, "WSA_QOS_EOBJLENGTH = An object with an invalid ObjectLength field was specified in "
            "the QOS provider-specific buffer"},
    {11023, "WSA_QOS_EFLOWCOUNT = An incorrect number of flow descriptors was specified in the QOS "
            "structure"},
    {11024,
     "WSA_QOS_EUNKOWNPSOBJ = An unrecognized object was found in the QOS provider-specific buffer"},
    {11025,
     "WSA_QOS_EPOLICYOBJ = An invalid policy object was found in the QOS provider-specific buffer"},
    {11026,
     "WSA_QOS_EFLOWDESC = An invalid QOS flow descriptor was found in the flow descriptor list"},
    {11027, "WSA_QOS_EPSFLOWSPEC = An invalid or inconsistent flowspec was found in the QOS "
            "provider specific buffer"},
    {11028,
     "WSA_QOS_EPSFILTERSPEC = An invalid FILTERSPEC was found in the QOS provider-specific buffer"},
    {11029, "WSA_QOS_ESDMODEOBJ = An invalid shape discard mode object was found in the QOS "
            "provider specific buffer"},
    {11030, "WSA_QOS_ESHAPERATEOBJ = An invalid shaping rate object was found in the QOS "
            "provider-specific buffer"},
    {11031, "WSA_QOS_RESERVED_PETYPE = A reserved policy element was found in the QOS "
            "provider-specific buffer"},
};

// Every other code the system prints, sorted by the code as an unsigned
// number. Of two rows with one code the first is printed.
const CodeName g_names[] = {
    {0x00000000, "S_OK"},
    {0x00000001, "S_FALSE"},
    {0x00000002, "S_RESYNC"},
    {0x00000003, "S_SEND_EOS"},
    {0x00000004, "S_EOS_SENT"},
    {0x00000005, "S_SIZECHANGED"},
    {0x00000006, "S_FORWARD"},
    {0x00000007, "S_INCOMPLETESYNC"},
    {0x00000009, "S_EXCEPTION"},
    {0x0000000A, "S_CHANGEPINTYPE"},
    {0x0000000B, "S_OFFSETADJUSTED"},
    {0x000401E8, "MK_S_ASYNCHRONOUS - Operation succeeded, but will complete asynchronously"},
    {0x00040237, "VFW_S_STATE_INTERMEDIATE"},
    {0x00040268, "VFW_S_CANT_CUE"},
    {0x00050048, "ZRMM_S_RESPONSE_PENDING - The response to the RTSP command has been sent or will "
                 "be sent later."},
    {0x00050055, "ZRMM_S_WRONG_STATE - The change was successful, but will take effect the next "
                 "time you run the graph"},
    {0x80004001, "E_NOTIMPL"},
    {0x80004002, "E_NOINTERFACE"},
    {0x80004003, "E_POINTER"},
    {0x80004004, "E_ABORT"},
    {0x80004005, "E_FAIL"},
    {0x8000FFFF, "E_UNEXPECTED"},
    {0x8001011F, "RPC_E_TIMEOUT"},
    {0x800401E3, "MK_E_UNAVAILABLE"},
    {0x80040200, "VFW_E_INVALIDMEDIATYPE"},
    {0x80040207, "VFW_E_NO_ACCEPTABLE_TYPES"},
    {0x80040208, "VFW_E_INVALID_DIRECTION"},
    {0x8004020D, "VFW_E_BUFFER_OVERFLOW"},
    {0x80040210, "VFW_E_BUFFERS_OUTSTANDING"},
    {0x80040211, "VFW_E_NOT_COMMITTED"},
    {0x80040223, "VFW_E_STATE_CHANGED"},
    {0x80040224, "VFW_E_NOT_STOPPED"},
    {0x80040227, "VFW_E_WRONG_STATE"},
    {0x8004022A, "VFW_E_TYPE_NOT_ACCEPTED"},
    {0x8004022B, "VFW_E_SAMPLE_REJECTED"},
    {0x8004022C, "VFW_E_SAMPLE_REJECTED_EOS"},
    {0x8004022E, "VFW_E_TIMEOUT"},
    {0x80040248, "VFW_E_INVALID_MEDIA_TYPE"},
    {0x80050013, "ZRMM_E_INVALID_DATA"},
    {0x80050014, "ZRMM_E_INVALID_HEADER"},
    {0x80050015, "ZRMM_E_DISABLED"},
    {0x80050016, "ZRMM_E_INVALID_VERSION"},
    {0x80050030,
     "ZRMM_E_RTSP_PARSING_STREAM - An error has occurred parsing the stream description"},
    {0x80050031, "ZRMM_E_RTSP_DESCRIBE_FAILED - The DESCRIBE RTSP command has failed"},
    {0x80050032, "ZRMM_E_RTSP_SETUP_FAILED - The SETUP RTSP command has failed"},
    {0x80050033, "ZRMM_E_RTSP_PLAY_FAILED - The PLAY RTSP command has failed"},
    {0x80050034, "ZRMM_E_RTSP_PAUSE_FAILED - The PAUSE RTSP command has failed"},
    {0x80050035, "ZRMM_E_RTSP_TEARDOWN_FAILED - The TEARDOWN RTSP command has failed"},
    {0x80050036, "ZRMM_E_RTSP_OPTIONS_FAILED - The OPTIONS RTSP command has failed"},
    {0x80050037,
     "ZRMM_E_RTSP_UNAUTHORIZED - The command failed due to bad username and/or password"},
    {0x80050038, "ZRMM_E_RTSP_RECONNECT - Internal use - reconnect to the server"},
    {0x80050039, "ZRMM_E_RTSP_URL_NOT_FOUND - The RTSP server does not contain this URL"},
    {0x8005003A, "ZRMM_E_RTSP_BAD_MEDIATYPE - The RTSP server is unable of streaming this type of "
                 "file. This error is generated by the server, not the Morvane filter."},
    {0x8005003B,
     "ZRMM_E_BAD_MULTICAST_ADDRESS - The RTSP server did not choose a valid multicast address."},
    {0x8005003C, "ZRMM_E_BAD_URL_OPTION - One of the options passed through the URL (eg: "
                 "transport) is invalid."},
    {0x8005003D,
     "ZRMM_E_BAD_INTERLEAVE_OPTION - The RTSP server did assign a valid interleave option."},
    {0x8005003E, "ZRMM_E_HTTP_GET_FAILED - The HTTP GET command has failed - the RTSP server "
                 "probably doesn't support the HTTP mode"},
    {0x8005003F,
     "ZRMM_E_SERVER_NOT_RESPONDING - The server is not responding. A reconnection is advisable."},
    {0x80050040, "ZRMM_E_ITEM_NOT_FOUND - The item was not found."},
    {0x80050041,
     "ZRMM_E_TOO_MANY_CONNECTIONS - The maximum number of connections has been exceeded."},
    {0x80050042, "ZRMM_E_NO_MEDIA - No media handler is available."},
    {0x80050042, "ZRMM_E_MEDIA_NOT_SUPPORTED - This media is not supported."},
    {0x80050043, "ZRMM_E_BAD_COMMAND - Bad RTSP Command."},
    {0x80050045, "ZRMM_E_FIELD_NOT_FOUND - The field was not found."},
    {0x80050046, "ZRMM_E_SESSION_NOT_FOUND - The session was not found."},
    {0x80050047, "ZRMM_E_OPTION_NOT_SUPPORTED - The RTSP option is not supported."},
    {0x80050049, "ZRMM_E_USER_EXISTS - A user already exists with a different password"},
    {0x8005004A, "ZRMM_E_AUTHENTICATION_REQUIRED - Authentication is required"},
    {0x8005004B,
     "ZRMM_E_RTSP_SWITCHED_TO_TCP - Internal use - the session switched to TCP streaming"},
    {0x80050050, "ZRMM_E_RTSP_RESPONSE_TOO_LARGE - The RTSP server sent a response larger than "
                 "64 KB of header or 1 MB of body"},
    {0x80050051, "ZRMM_E_RTSP_BAD_RESPONSE - The RTSP server sent a response whose length "
                 "cannot be read"},
    {0x80050052,
     "ZRMM_E_ABORT_WAIT_RESET_SOURCE - The wait for data was aborted by calling ResetSource"},
    {0x80050053, "ZRMM_E_ABORT_WAIT_STOP - The wait for data was aborted by calling Stop"},
    {0x80050059, "ZRMM_E_MAX_PINS_EXCEEDED - Internal - The maximum number of pins was exceeded"},
    {0x80050062, "ZRMM_E_TLS_UNTRUSTED_CERTIFICATE - The RTSPS server's certificate is not "
                 "trusted (TlsVerify=0 in the URL accepts it)"},
    {0x80050063, "ZRMM_E_TLS_WRONG_HOST - The RTSPS server's certificate was issued for another "
                 "host (TlsVerify=0 in the URL accepts it)"},
    {0x80050064, "ZRMM_E_TLS_HANDSHAKE_FAILED - The secure connection to the RTSPS server could "
                 "not be established"},
    {0x80070002, "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"},
    {0x80070005, "E_ACCESSDENIED"},
    {0x80070006, "E_HANDLE"},
    {0x8007000E, "E_OUTOFMEMORY"},
    {0x8007001D, "HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)"},
    {0x8007001E, "HRESULT_FROM_WIN32(ERROR_READ_FAULT)"},
    {0x80070020, "HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)"},
    {0x80070026, "HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)"},
    {0x80070057, "E_INVALIDARG"},
    {0x800700B7, "HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)"},
    {0x800703E6, "HRESULT_FROM_WIN32(ERROR_NOACCESS)"},
    {0xC00D0029, "NS_E_CONNECTION_FAILURE - The connection to the server has failed."},
    {0xC00D002B, "NS_E_INVALID_REQUEST - The request is invalid in the current state."},
    {0xC00D002F, "NS_E_INVALID_DATA - The data is not valid."},
    {0xC00D003C, "NS_E_INVALID_STREAM - The stream number is not valid."},
    {0xC00D0807, "ASF_E_BADMEDIATYPE - An invalid media type was encountered."},
    {0xC00D0BBE, "NS_E_LICENSE_REQUIRED - A valid license is required to play this content."},
    {0xC00D151B, "NS_E_INVALID_PUSH_PUBLISHING_POINT - The specified publishing point is not a "
                 "valid push publishing point."},
    {0xC00D2767, "NS_E_DRM_DEBUGGING_NOT_ALLOWED - A license cannot be acquired while a debugger "
                 "is attached to the process."},
    {0xC00D2EE2, "NS_E_INTERNAL_SERVER_ERROR - The server encountered an unexpected condition "
                 "which prevented it from fulfilling the request."},
    {0xC00D2EE6, "NS_E_SERVER_UNAVAILABLE - The server is currently unable to handle the request "
                 "due to a temporary overloading or maintenance of the server."},
    {0xC00D2EE7, "NS_E_REFUSED_BY_SERVER - The server refused to fulfill the requested operation."},
    {0xC00D2EE8,
     "NS_E_INCOMPATIBLE_SERVER - The server is not a compatible streaming media server."},
    {0xC00D2F0B, "NS_E_PUSH_CANNOTCONNECT - Unable to establish a connection to the server for "
                 "push distribution."},
    {0xC00D2F0C,
     "NS_E_INCOMPATIBLE_PUSH_SERVER - The server is not a compatible push distribution server."},
    {0xC06D007E, "VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND) - One or more delay "
                 "loaded modules are missing"},
    {0xC06D007F, "VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND) - The function cannot "
                 "be found in a delay loaded modules"},
    {0xFEDCBA97, "E_ABORTED_BY_THIS_FILTER"},
    {0xFEDCBA98, "E_ABORTED_BY_DOWNSTREAM_FILTER"},
};

// The first row of dwCode, by bisection after checking both ends; null when
// the table has none.
template <size_t N>
const char* Lookup(const CodeName (&table)[N], uint32_t dwCode) {
    if (dwCode < table[0].dwCode || dwCode > table[N - 1].dwCode) {
        return nullptr;
    }
    size_t lo = 0, hi = N;
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (table[mid].dwCode < dwCode) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo < N && table[lo].dwCode == dwCode ? table[lo].pszText : nullptr;
}

CFormatRing<8, 100> g_nameRing;

} // namespace

const char* HResultName(HRESULT hr) {
    const uint32_t dwCode = (uint32_t)hr;
    if (dwCode >= 0x80072710 && dwCode <= 0x80072EDF) {
        const uint32_t dwWinsock = dwCode & 0xFFFF;
        if (const char* psz = Lookup(g_winsockNames, dwWinsock)) {
            return psz;
        }
        char* psz = g_nameRing.Next();
        FormatString(psz, g_nameRing.Size(), "Unknown Winsock error (%d=0x%08X)", (int)dwWinsock,
                     dwWinsock);
        return psz;
    }
    char* psz = g_nameRing.Next();
    if (dwCode >= 0x8005F000 && dwCode <= 0x8005FFFF) {
        FormatString(psz, g_nameRing.Size(), "Morvane Raster Error (%d)",
                     (int)(0x8005F000 - (int64_t)dwCode));
        return psz;
    }
    if (const char* pszName = Lookup(g_names, dwCode)) {
        return pszName;
    }
    FormatString(psz, g_nameRing.Size(), "0x%08X", dwCode);
    return psz;
}

const char* HResultNameGuarded(HRESULT hr) {
    return TraceEnabled() ? HResultName(hr) : "";
}
