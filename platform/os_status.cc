// Texts of composite operating-system statuses: the call-name tables of each
// status class, the errno and socket error names, and the composition rules
// that os_status_text applies to one status word.
#include "platform/os_status.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// Index 0 and 104 are unused.
constexpr const char* kWindowsCallNames[] = {
    "",                                              // 0
    "socket: ",                                      // 1
    "connect: ",                                     // 2
    "bind: ",                                        // 3
    "accept: ",                                      // 4
    "listen: ",                                      // 5
    "send: ",                                        // 6
    "recv: ",                                        // 7
    "close: ",                                       // 8
    "gethostbyname: ",                               // 9
    "getpeerbyname: ",                               // 10
    "read: ",                                        // 11
    "write: ",                                       // 12
    "setsockopt: ",                                  // 13
    "closesocket: ",                                 // 14
    "WSAStartup: ",                                  // 15
    "WSASetBlockingHook: ",                          // 16
    "ioctlsocket: ",                                 // 17
    "getservbyname: ",                               // 18
    "WSACreateEvent: ",                              // 19
    "WSAEventSelect: ",                              // 20
    "WSACloseEvent: ",                               // 21
    "WSAEnumNetworkEvents: ",                        // 22
    "WSAAsyncSelect: ",                              // 23
    "WSASend: ",                                     // 24
    "WSARecv: ",                                     // 25
    "CreateFile: ",                                  // 26
    "WaitNamedPipe: ",                               // 27
    "LocalAlloc: ",                                  // 28
    "InitializeSecurityDescriptor: ",                // 29
    "SetSecurityDescriptorDacl: ",                   // 30
    "CreateNamedPipe: ",                             // 31
    "ConnectNamedPipe: ",                            // 32
    "CloseHandle: ",                                 // 33
    "ReadFile: ",                                    // 34
    "WriteFile: ",                                   // 35
    "DisconnectNamedPipe: ",                         // 36
    "FlushFileBuffers: ",                            // 37
    "SetFilePointer: ",                              // 38
    "SetEndOfFile: ",                                // 39
    "DeleteFile: ",                                  // 40
    "DuplicateHandle: ",                             // 41
    "GetOverlappedResult: ",                         // 42
    "GlobalAlloc: ",                                 // 43
    "CreateEvent: ",                                 // 44
    "GetTempPath: ",                                 // 45
    "GetTempName: ",                                 // 46
    "GetFileSize: ",                                 // 47
    "HeapCreate: ",                                  // 48
    "HeapAlloc: ",                                   // 49
    "ReportEvent: ",                                 // 50
    "GetProcAddress: ",                              // 51
    "LoadLibrary: ",                                 // 52
    "FreeLibrary: ",                                 // 53
    "CreateThread: ",                                // 54
    "CreateDirectory: ",                             // 55
    "CreateProcess: ",                               // 56
    "WaitForInputIdle: ",                            // 57
    "OpenFileMapping: ",                             // 58
    "MapViewOfFile: ",                               // 59
    "OpenMutex: ",                                   // 60
    "OpenEvent: ",                                   // 61
    "WaitForSingleObject: ",                         // 62
    "SetEvent: ",                                    // 63
    "OpenProcess: ",                                 // 64
    "CreateFileMapping: ",                           // 65
    "CreateMutex: ",                                 // 66
    "WaitForMultipleObjects: ",                      // 67
    "UnmapViewOfFile: ",                             // 68
    "GetVersionEx: ",                                // 69
    "OpenSCManager: ",                               // 70
    "OpenService: ",                                 // 71
    "StartService: ",                                // 72
    "ControlService: ",                              // 73
    "TerminateProcess: ",                            // 74
    "OpenProcessToken: ",                            // 75
    "GetTokenInformation: ",                         // 76
    "LookupAccountSid: ",                            // 77
    "GetUserName: ",                                 // 78
    "ImpersonateLoggedOnUser: ",                     // 79
    "CreateIoCompletionPort: ",                      // 80
    "GetQueuedCompletionStatus: ",                   // 81
    "ReleaseMutex: ",                                // 82
    "TransactNamedPipe: ",                           // 83
    "SetNamedPipeHandleState: ",                     // 84
    "PostQueuedCompletionStatus: ",                  // 85
    "SetThreadPriority: ",                           // 86
    "AllocateAndInitializeSid: ",                    // 87
    "InitializeAcl: ",                               // 88
    "AddAccessAllowedAce: ",                         // 89
    "QueryServiceConfig: ",                          // 90
    "LookupAccountName: ",                           // 91
    "QueryServiceStatus: ",                          // 92
    "TlsAlloc: ",                                    // 93
    "TlsSetValue: ",                                 // 94
    "TlsGetValue: ",                                 // 95
    "TlsFree: ",                                     // 96
    "VirtualAlloc: ",                                // 97
    "VirtualFree: ",                                 // 98
    "SetPriorityClass: ",                            // 99
    "RapiInitEx: ",                                  // 100
    "RapiInvoke: ",                                  // 101
    "ResetEvent: ",                                  // 102
    "GetStdHandle: ",                                // 103
    "",                                              // 104
    "DtcGetTransactionManager: ",                    // 105
    "IDtcUnknown::QueryInterface: ",                 // 106
    "CZavorOdbcXa::CreateInstance: ",                // 107
    "CZavorOdbcXa::QueryInterface: ",                // 108
    "IRapiStream::Read: ",                           // 109
    "IRapiStream::Write: ",                          // 110
    "IRapiStream::Release: ",                        // 111
    "IDtcToXaHelperSinglePipe::XARMCreate: ",        // 112
    "IDtcToXaHelperSinglePipe::ConvertTridToXid: ",  // 113
    "IDtcToXaHelperSinglePipe::EnlistWithRM: ",      // 114
};
constexpr const char* kLibraryCallNames[] = {
    "unknown: ",                      // 0
    "connect: ",                      // 1
    "bind: ",                         // 2
    "accept: ",                       // 3
    "listen: ",                       // 4
    "send: ",                         // 5
    "recv: ",                         // 6
    "close: ",                        // 7
    "gethostbyname: ",                // 8
    "getservbyname: ",                // 9
    "read: ",                         // 10
    "write: ",                        // 11
    "open: ",                         // 12
    "lseek: ",                        // 13
    "stat: ",                         // 14
    "fstat: ",                        // 15
    "fcntl: ",                        // 16
    "unlink: ",                       // 17
    "shmat: ",                        // 18
    "shmget: ",                       // 19
    "shmctl: ",                       // 20
    "semget: ",                       // 21
    "semctl: ",                       // 22
    "semop: ",                        // 23
    "ftok: ",                         // 24
    "setsockopt: ",                   // 25
    "getsockopt: ",                   // 26
    "creat: ",                        // 27
    "pipe: ",                         // 28
    "ioctl: ",                        // 29
    "mdrdmc: ",                       // 30
    "mdrdmo: ",                       // 31
    "mdrdmr: ",                       // 32
    "mdrdmw: ",                       // 33
    "mdrdmx: ",                       // 34
    "mdrdma: ",                       // 35
    "mdrgps: ",                       // 36
    "rm_file: ",                      // 37
    "mdrrsm: ",                       // 38
    "mdrwsm: ",                       // 39
    "multi_dir: ",                    // 40
    "fattach: ",                      // 41
    "sendmsg: ",                      // 42
    "recvmsg: ",                      // 43
    "chmod: ",                        // 44
    "fchmod: ",                       // 45
    "mmap: ",                         // 46
    "pthread_mutex_lock: ",           // 47
    "pthread_mutex_unlock: ",         // 48
    "pthread_mutex_init: ",           // 49
    "chdir: ",                        // 50
    "pthread_key_create: ",           // 51
    "pthread_setspecific: ",          // 52
    "pthread_cond_init: ",            // 53
    "pthread_cond_wait: ",            // 54
    "socket: ",                       // 55
    "pthread_attr_init: ",            // 56
    "pthread_attr_setstacksize: ",    // 57
    "pthread_create: ",               // 58
    "fopen: ",                        // 59
    "fprintf: ",                      // 60
    "fputs: ",                        // 61
    "malloc: ",                       // 62
    "fread: ",                        // 63
    "fwrite: ",                       // 64
    "fseek: ",                        // 65
    "pthread_attr_setdetachstate: ",  // 66
    "mlock: ",                        // 67
    "kill: ",                         // 68
    "munmap: ",                       // 69
    "mkdir: ",                        // 70
    "dlopen: ",                       // 71
    "dlsym: ",                        // 72
    "aio_read: ",                     // 73
    "aio_write: ",                    // 74
    "aio_error: ",                    // 75
    "aio_return: ",                   // 76
    "aio_suspend: ",                  // 77
    "mdrdmp: ",                       // 78
    "mdrdsc: ",                       // 79
    "mdrdso: ",                       // 80
    "mdrdsr: ",                       // 81
    "mdrdsw: ",                       // 82
    "mdrdsx: ",                       // 83
    "mdrdsa: ",                       // 84
    "pthread_sigmask: ",              // 85
    "sigwait: ",                      // 86
    "sigtimedwait: ",                 // 87
    "sigemptyset: ",                  // 88
    "sigaddset: ",                    // 89
    "fork: ",                         // 90
    "execl: ",                        // 91
    "start_server: ",                 // 92
    "sysconf: ",                      // 93
    "sigaction: ",                    // 94
    "mdrdbp: ",                       // 95
    "select: ",                       // 96
    "shl_findsym: ",                  // 97
    "shl_load: ",                     // 98
    "zcs_await_server: ",             // 99
    "time: ",                         // 100
    "serv_accept: ",                  // 101
    "getpeername: ",                  // 102
    "flock: ",                        // 103
    "execlp: ",                       // 104
    "getpwuid: ",                     // 105
    "setgid: ",                       // 106
    "setuid: ",                       // 107
    "recv_fd: ",                      // 108
    "cli_connect: ",                  // 109
    "link: ",                         // 110
    "mdrdmt: ",                       // 111
    "mdrdst: ",                       // 112
    "local_read: ",                   // 113
    "socket_read: ",                  // 114
    "socket_write: ",                 // 115
    "CKRead0: ",                      // 116
    "CKWrite0: ",                     // 117
    "CKCommSrv0: ",                   // 118
    "cancel_requests: ",              // 119
    "ftruncate: ",                    // 120
    "pread: ",                        // 121
    "pwrite: ",                       // 122
    "pthread_attr_getschedparam: ",   // 123
    "pthread_attr_setschedparam: ",   // 124
    "sigprocmask: ",                  // 125
};
constexpr const char* kFileTableMessages[] = {
    "error unknown",                                          // 0
    "invalid arguments",                                      // 1
    "invalid block size, must be 512, 1024, 1536 or 2048",    // 2
    "no slot available in internal file table, open denied",  // 3
    "malloc() failed",                                        // 4
    "attemp to remove unallocated file control block",        // 5
    "illegal file identifier",                                // 6
    "can't delete file",                                      // 7
    "can't create file with negative size",                   // 8
    "unable to create raw device file for temporary use",     // 9
    "requested size is larger than raw device size",          // 10
    "moving the file pointer failed",                         // 11
    "call to read() returned wrong number of bytes",          // 12
    "call to write() returned wrong number of bytes",         // 13
    "routine called with negative block number",              // 14
    "can't extend a raw device file",                         // 15
    "illegal file table index ",                              // 16
    "trying to operate beyond end of file",                   // 17
    "minimum extend byte count not fulfilled",                // 18
    "call returned unsuccessful completion",                  // 19
    nullptr,                                                  // 20
    "illegal argument",                                       // 21
    "directory cannot be found",                              // 22
    "server has disappered",                                  // 23
    "sanity check",                                           // 24
    "other error",                                            // 25
};
constexpr const char* kComCallNames[] = {
    "",                                              // 0
    "DtcGetTransactionManager: ",                    // 1
    "IDtcUnknown::QueryInterface: ",                 // 2
    "CZavorOdbcXa::CreateInstance: ",                // 3
    "CZavorOdbcXa::QueryInterface: ",                // 4
    "IRapiStream::Read: ",                           // 5
    "IRapiStream::Write: ",                          // 6
    "IRapiStream::Release: ",                        // 7
    "IDtcToXaHelperSinglePipe::XARMCreate: ",        // 8
    "IDtcToXaHelperSinglePipe::ConvertTridToXid: ",  // 9
    "IDtcToXaHelperSinglePipe::EnlistWithRM: ",      // 10
};

struct NamedCode {
  int32_t code;
  const char* name;
};

// The C library's standard errno names, in brackets as the class 5 text shows
// them; ends with code 0.
constexpr NamedCode kErrnoNames[] = {
    {EPERM, "[EPERM] "},
    {ENOENT, "[ENOENT] "},
    {ESRCH, "[ESRCH] "},
    {EINTR, "[EINTR] "},
    {EIO, "[EIO] "},
    {ENXIO, "[ENXIO] "},
    {E2BIG, "[E2BIG] "},
    {ENOEXEC, "[ENOEXEC] "},
    {EBADF, "[EBADF] "},
    {ECHILD, "[ECHILD] "},
    {EAGAIN, "[EAGAIN] "},
    {ENOMEM, "[ENOMEM] "},
    {EACCES, "[EACCES] "},
    {EFAULT, "[EFAULT] "},
    {EBUSY, "[EBUSY] "},
    {EEXIST, "[EEXIST] "},
    {EXDEV, "[EXDEV] "},
    {ENODEV, "[ENODEV] "},
    {ENOTDIR, "[ENOTDIR] "},
    {EISDIR, "[EISDIR] "},
    {EINVAL, "[EINVAL] "},
    {ENFILE, "[ENFILE] "},
    {EMFILE, "[EMFILE] "},
    {ENOTTY, "[ENOTTY] "},
    {EFBIG, "[EFBIG] "},
    {ENOSPC, "[ENOSPC] "},
    {ESPIPE, "[ESPIPE] "},
    {EROFS, "[EROFS] "},
    {EMLINK, "[EMLINK] "},
    {EPIPE, "[EPIPE] "},
    {EDOM, "[EDOM] "},
    {ERANGE, "[ERANGE] "},
    {EDEADLK, "[EDEADLK] "},
    {ENAMETOOLONG, "[ENAMETOOLONG] "},
    {ENOLCK, "[ENOLCK] "},
    {ENOSYS, "[ENOSYS] "},
    {ENOTEMPTY, "[ENOTEMPTY] "},
    {EILSEQ, "[EILSEQ] "},
    {0, nullptr},
};

// Socket error names. A code from 10000 up is the socket library's own
// number; below that it is the errno value a socket call of this platform
// gives, matched to the same name.
struct SocketName {
  int32_t wsa_code;
  int32_t errno_code;  // 0: no errno of this platform has the meaning
  const char* name;
};

constexpr SocketName kSocketNames[] = {
    {10004, EINTR, "WSAEINTR"},
    {10009, EBADF, "WSAEBADF"},
    {10013, EACCES, "WSAEACCES"},
    {10014, EFAULT, "WSAEFAULT"},
    {10022, EINVAL, "WSAEINVAL"},
    {10024, EMFILE, "WSAEMFILE"},
    {10035, EWOULDBLOCK, "WSAEWOULDBLOCK"},
    {10036, EINPROGRESS, "WSAEINPROGRESS"},
    {10037, EALREADY, "WSAEALREADY"},
    {10038, ENOTSOCK, "WSAENOTSOCK"},
    {10039, EDESTADDRREQ, "WSAEDESTADDRREQ"},
    {10040, EMSGSIZE, "WSAEMSGSIZE"},
    {10041, EPROTOTYPE, "WSAEPROTOTYPE"},
    {10042, ENOPROTOOPT, "WSAENOPROTOOPT"},
    {10043, EPROTONOSUPPORT, "WSAEPROTONOSUPPORT"},
    {10044, ESOCKTNOSUPPORT, "WSAESOCKTNOSUPPORT"},
    {10045, EOPNOTSUPP, "WSAEOPNOTSUPP"},
    {10046, EPFNOSUPPORT, "WSAEPFNOSUPPORT"},
    {10047, EAFNOSUPPORT, "WSAEAFNOSUPPORT"},
    {10048, EADDRINUSE, "WSAEADDRINUSE"},
    {10049, EADDRNOTAVAIL, "WSAEADDRNOTAVAIL"},
    {10050, ENETDOWN, "WSAENETDOWN"},
    {10051, ENETUNREACH, "WSAENETUNREACH"},
    {10052, ENETRESET, "WSAENETRESET"},
    {10053, ECONNABORTED, "WSAECONNABORTED"},
    {10054, ECONNRESET, "WSAECONNRESET"},
    {10055, ENOBUFS, "WSAENOBUFS"},
    {10056, EISCONN, "WSAEISCONN"},
    {10057, ENOTCONN, "WSAENOTCONN"},
    {10058, ESHUTDOWN, "WSAESHUTDOWN"},
    {10059, ETOOMANYREFS, "WSAETOOMANYREFS"},
    {10060, ETIMEDOUT, "WSAETIMEDOUT"},
    {10061, ECONNREFUSED, "WSAECONNREFUSED"},
    {10062, ELOOP, "WSAELOOP"},
    {10063, ENAMETOOLONG, "WSAENAMETOOLONG"},
    {10064, EHOSTDOWN, "WSAEHOSTDOWN"},
    {10065, EHOSTUNREACH, "WSAEHOSTUNREACH"},
    {10066, ENOTEMPTY, "WSAENOTEMPTY"},
    {10067, 0, "WSAEPROCLIM"},
    {10068, EUSERS, "WSAEUSERS"},
    {10069, EDQUOT, "WSAEDQUOT"},
    {10070, ESTALE, "WSAESTALE"},
    {10071, EREMOTE, "WSAEREMOTE"},
    {10091, 0, "WSASYSNOTREADY"},
    {10092, 0, "WSAVERNOTSUPPORTED"},
    {10093, 0, "WSANOTINITIALISED"},
    {11001, 0, "WSAHOST_NOT_FOUND"},
    {11002, 0, "WSATRY_AGAIN"},
    {11003, 0, "WSANO_RECOVERY"},
    {11004, 0, "WSANO_DATA"},
};

struct FailureName {
  uint32_t code;
  const char* name;
};

constexpr FailureName kFailureNames[] = {
    {0x80004005u, "E_FAIL"},
    {0x80004004u, "E_ABORT"},
    {0x80004001u, "E_NOTIMPL"},
    {0x80004002u, "E_NOINTERFACE"},
    {0x80004003u, "E_POINTER"},
    {0x8000FFFFu, "E_UNEXPECTED"},
    {0x80070005u, "E_ACCESSDENIED"},
    {0x80070006u, "E_HANDLE"},
    {0x8007000Eu, "E_OUTOFMEMORY"},
    {0x80070057u, "E_INVALIDARG"},
    {0x8004D000u, "XACT_E_ALREADYOTHERSINGLEPHASE"},
    {0x8004D001u, "XACT_E_CANTRETAIN"},
    {0x8004D002u, "XACT_E_COMMITFAILED"},
    {0x8004D003u, "XACT_E_COMMITPREVENTED"},
    {0x8004D004u, "XACT_E_HEURISTICABORT"},
    {0x8004D005u, "XACT_E_HEURISTICCOMMIT"},
    {0x8004D006u, "XACT_E_HEURISTICDAMAGE"},
    {0x8004D007u, "XACT_E_HEURISTICDANGER"},
    {0x8004D008u, "XACT_E_ISOLATIONLEVEL"},
    {0x8004D009u, "XACT_E_NOASYNC"},
    {0x8004D00Au, "XACT_E_NOENLIST"},
    {0x8004D00Bu, "XACT_E_NOISORETAIN"},
    {0x8004D00Cu, "XACT_E_NORESOURCE"},
    {0x8004D00Du, "XACT_E_NOTCURRENT"},
    {0x8004D00Eu, "XACT_E_NOTRANSACTION"},
    {0x8004D00Fu, "XACT_E_NOTSUPPORTED"},
    {0x8004D010u, "XACT_E_UNKNOWNRMGRID"},
    {0x8004D011u, "XACT_E_WRONGSTATE"},
    {0x8004D012u, "XACT_E_WRONGUOW"},
    {0x8004D013u, "XACT_E_XTIONEXISTS"},
    {0x8004D014u, "XACT_E_NOIMPORTOBJECT"},
    {0x8004D015u, "XACT_E_INVALIDCOOKIE"},
    {0x8004D016u, "XACT_E_INDOUBT"},
    {0x8004D017u, "XACT_E_NOTIMEOUT"},
    {0x8004D018u, "XACT_E_ALREADYINPROGRESS"},
    {0x8004D019u, "XACT_E_ABORTED"},
    {0x8004D01Au, "XACT_E_LOGFULL"},
    {0x8004D01Bu, "XACT_E_TMNOTAVAILABLE"},
    {0x8004D01Cu, "XACT_E_CONNECTION_DOWN"},
    {0x8004D01Du, "XACT_E_CONNECTION_DENIED"},
    {0x8004D01Eu, "XACT_E_REENLISTTIMEOUT"},
};

// Class 6 with call index 0: error numbers the platform sets itself.
constexpr NamedCode kOwnErrors[] = {
    {38, "Reached the end of the file."},
    {84, "Storage to process this request is not available."},
};

constexpr int32_t kWinTextSize = 200;
constexpr int32_t kLimitMax = 32767;

template <typename T, size_t N>
constexpr int32_t count_of(const T (&)[N]) {
  return static_cast<int32_t>(N);
}

std::string format(const char* fmt, long a, long b = 0, long c = 0, long d = 0) {
  char buf[96];
  int n = snprintf(buf, sizeof buf, fmt, a, b, c, d);
  return std::string(buf, n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

// The platform's message for an errno value, nullptr when it has none.
const char* system_message(int32_t code) {
  return strerrordesc_np(code);
}

std::string windows_text(int32_t status, int32_t os_class, int32_t step, int32_t code) {
  std::string out;
  if (os_class == OS_CLASS_COM) {
    uint32_t call = (static_cast<uint32_t>(status) >> 20) & 0xFF;
    uint32_t failure = 0x80000000u | (static_cast<uint32_t>(status) & 0xFFFFF);
    if (call == 0 || call >= static_cast<uint32_t>(count_of(kComCallNames))) return out;
    out += kComCallNames[call];
    out += "Windows error ";
    for (const auto& f : kFailureNames) {
      if (f.code == failure) out += f.name;
    }
    out += format(" (0x%lX)", static_cast<long>(failure));
    return out;
  }
  if (os_class == OS_CLASS_WINDOWS || os_class == OS_CLASS_CE) {
    if (step >= count_of(kWindowsCallNames)) return out;
    if (os_class == OS_CLASS_CE) out += "Ce";
    out += kWindowsCallNames[step];
    const char* message = nullptr;
    if (step == 0) {
      for (const auto& e : kOwnErrors) {
        if (e.code == code) message = e.name;
      }
    } else {
      message = system_message(code);
    }
    if (message) {
      out += message;
    } else {
      out += format(" OS error code: %ld", code);
    }
    return out;
  }
  if (os_class == OS_CLASS_SOCKET) {
    if (step >= count_of(kWindowsCallNames)) return out;
    out += kWindowsCallNames[step];
    out += "Windows socket error ";
    for (const auto& s : kSocketNames) {
      if (code >= 10000 ? s.wsa_code == code : s.errno_code == code) {
        out += s.name;
        break;
      }
    }
    out += format(" (%ld)", code);
    return out;
  }
  return out;
}

std::string status_text(int32_t status) {
  std::string out;
  if (status == 0) return out;
  int32_t os_class = os_status_class(status);
  int32_t step = os_status_step(status);
  int32_t code = os_status_code(status);
  switch (os_class) {
    case OS_CLASS_SOCKET:
    case OS_CLASS_WINDOWS:
    case OS_CLASS_CE:
    case OS_CLASS_COM:
      out = windows_text(status, os_class, step, code);
      if (out.size() > static_cast<size_t>(kWinTextSize - 1)) out.resize(kWinTextSize - 1);
      break;
    case OS_CLASS_ERRNO:
      if (step < count_of(kLibraryCallNames)) {
        out += kLibraryCallNames[step];
        const char* name = nullptr;
        for (const NamedCode* e = kErrnoNames; e->code != 0; ++e) {
          if (e->code == code) name = e->name;
        }
        out += name ? std::string(name) : format("[%ld]", code);
        const char* message = system_message(code);
        out += message ? std::string(message) : format("Unknown error %ld", code);
      }
      break;
    case OS_CLASS_FILE_TABLE:
      if (step < count_of(kLibraryCallNames) && code < count_of(kFileTableMessages) &&
          kFileTableMessages[code]) {
        out += kLibraryCallNames[step];
        out += kFileTableMessages[code];
      }
      break;
    case OS_CLASS_NONE:
      out = "No OS message available";
      break;
    default:
      break;
  }
  if (out.empty()) {
    if (os_class == OS_CLASS_COM) {
      step = static_cast<int32_t>((static_cast<uint32_t>(status) >> 20) & 0xFF);
      code = static_cast<int32_t>(static_cast<uint32_t>(status) & 0xFFFFF);
    }
    out = format("OS status code %lX (%ld, %ld, %ld)",
                 static_cast<long>(static_cast<uint32_t>(status)), os_class, step, code);
  }
  return out;
}

}  // namespace

int32_t os_status_from_errno(int32_t os_class, int32_t step) {
  return make_os_status(os_class, step, errno);
}

void os_status_text(int32_t* rc, std::span<char> area, int32_t offset, int32_t* length,
                    int32_t limit, int32_t os_status) {
  *length = 0;
  if (limit < 1 || limit > kLimitMax || offset < 0 || static_cast<size_t>(offset) >= area.size()) {
    *rc = -1;
    return;
  }
  std::string out = status_text(os_status);
  *rc = 0;
  const size_t room = std::min(static_cast<size_t>(limit), area.size() - offset);
  size_t n = out.size();
  if (n > room) {
    n = room;
    *rc = -2;
  }
  memcpy(area.data() + offset, out.data(), n);
  *length = static_cast<int32_t>(n);
}

int32_t os_status_text_win(int32_t os_status, int32_t os_class, int32_t step, int32_t code,
                           std::span<char> buffer, int32_t size) {
  if (size < 1 || buffer.empty()) return 0;
  std::string out = windows_text(os_status, os_class, step, code);
  const size_t room = std::min(static_cast<size_t>(size), buffer.size());
  size_t n = std::min(out.size(), room - 1);
  memcpy(buffer.data(), out.data(), n);
  buffer[n] = '\0';
  return static_cast<int32_t>(n);
}

std::string os_status_string(int32_t os_status) {
  return status_text(os_status);
}
