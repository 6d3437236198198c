// Composite operating-system status words and their texts. A machine-dependent
// routine that fails packs the status class, the index of the failed call and
// the error it gave into one 32-bit word, which travels through the kernel to
// the error report; os_status_text turns such a word back into a message.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Status classes (bits 28-31). On this platform classes 4, 6 and 8 carry errno
// values in their code field; the class and call index keep their meaning.
constexpr int32_t OS_CLASS_SOCKET = 4;       // socket call
constexpr int32_t OS_CLASS_ERRNO = 5;        // C library call with an errno value
constexpr int32_t OS_CLASS_WINDOWS = 6;      // operating-system call (kernel32 names)
constexpr int32_t OS_CLASS_CE = 8;           // remote call to a CE device
constexpr int32_t OS_CLASS_COM = 9;          // COM or transaction-coordinator call
constexpr int32_t OS_CLASS_FILE_TABLE = 14;  // internal file-table error
constexpr int32_t OS_CLASS_NONE = 15;        // no operating-system message

// The OS status word of a status pair that carries no operating-system error.
constexpr int32_t OS_STATUS_NONE = -1;

// Statuses the platform sets without a failed call (class 6, call index 0):
// their codes are the system's own error numbers, not errno values.
constexpr int32_t OS_STATUS_IO_INCOMPLETE = 0x60000026;    // transfer cut short
constexpr int32_t OS_STATUS_NO_REQUEST_SLOT = 0x60000054;  // I/O request slots used up

// Call indexes of classes 6 and 8, spelled as the call.
namespace win_call {
constexpr int32_t socket = 1;
constexpr int32_t connect = 2;
constexpr int32_t bind = 3;
constexpr int32_t accept = 4;
constexpr int32_t listen = 5;
constexpr int32_t send = 6;
constexpr int32_t recv = 7;
constexpr int32_t close = 8;
constexpr int32_t gethostbyname = 9;
constexpr int32_t getpeerbyname = 10;
constexpr int32_t read = 11;
constexpr int32_t write = 12;
constexpr int32_t setsockopt = 13;
constexpr int32_t closesocket = 14;
constexpr int32_t WSAStartup = 15;
constexpr int32_t WSASetBlockingHook = 16;
constexpr int32_t ioctlsocket = 17;
constexpr int32_t getservbyname = 18;
constexpr int32_t WSACreateEvent = 19;
constexpr int32_t WSAEventSelect = 20;
constexpr int32_t WSACloseEvent = 21;
constexpr int32_t WSAEnumNetworkEvents = 22;
constexpr int32_t WSAAsyncSelect = 23;
constexpr int32_t WSASend = 24;
constexpr int32_t WSARecv = 25;
constexpr int32_t CreateFile = 26;
constexpr int32_t WaitNamedPipe = 27;
constexpr int32_t LocalAlloc = 28;
constexpr int32_t InitializeSecurityDescriptor = 29;
constexpr int32_t SetSecurityDescriptorDacl = 30;
constexpr int32_t CreateNamedPipe = 31;
constexpr int32_t ConnectNamedPipe = 32;
constexpr int32_t CloseHandle = 33;
constexpr int32_t ReadFile = 34;
constexpr int32_t WriteFile = 35;
constexpr int32_t DisconnectNamedPipe = 36;
constexpr int32_t FlushFileBuffers = 37;
constexpr int32_t SetFilePointer = 38;
constexpr int32_t SetEndOfFile = 39;
constexpr int32_t DeleteFile = 40;
constexpr int32_t DuplicateHandle = 41;
constexpr int32_t GetOverlappedResult = 42;
constexpr int32_t GlobalAlloc = 43;
constexpr int32_t CreateEvent = 44;
constexpr int32_t GetTempPath = 45;
constexpr int32_t GetTempName = 46;
constexpr int32_t GetFileSize = 47;
constexpr int32_t HeapCreate = 48;
constexpr int32_t HeapAlloc = 49;
constexpr int32_t ReportEvent = 50;
constexpr int32_t GetProcAddress = 51;
constexpr int32_t LoadLibrary = 52;
constexpr int32_t FreeLibrary = 53;
constexpr int32_t CreateThread = 54;
constexpr int32_t CreateDirectory = 55;
constexpr int32_t CreateProcess = 56;
constexpr int32_t WaitForInputIdle = 57;
constexpr int32_t OpenFileMapping = 58;
constexpr int32_t MapViewOfFile = 59;
constexpr int32_t OpenMutex = 60;
constexpr int32_t OpenEvent = 61;
constexpr int32_t WaitForSingleObject = 62;
constexpr int32_t SetEvent = 63;
constexpr int32_t OpenProcess = 64;
constexpr int32_t CreateFileMapping = 65;
constexpr int32_t CreateMutex = 66;
constexpr int32_t WaitForMultipleObjects = 67;
constexpr int32_t UnmapViewOfFile = 68;
constexpr int32_t GetVersionEx = 69;
constexpr int32_t OpenSCManager = 70;
constexpr int32_t OpenService = 71;
constexpr int32_t StartService = 72;
constexpr int32_t ControlService = 73;
constexpr int32_t TerminateProcess = 74;
constexpr int32_t OpenProcessToken = 75;
constexpr int32_t GetTokenInformation = 76;
constexpr int32_t LookupAccountSid = 77;
constexpr int32_t GetUserName = 78;
constexpr int32_t ImpersonateLoggedOnUser = 79;
constexpr int32_t CreateIoCompletionPort = 80;
constexpr int32_t GetQueuedCompletionStatus = 81;
constexpr int32_t ReleaseMutex = 82;
constexpr int32_t TransactNamedPipe = 83;
constexpr int32_t SetNamedPipeHandleState = 84;
constexpr int32_t PostQueuedCompletionStatus = 85;
constexpr int32_t SetThreadPriority = 86;
constexpr int32_t AllocateAndInitializeSid = 87;
constexpr int32_t InitializeAcl = 88;
constexpr int32_t AddAccessAllowedAce = 89;
constexpr int32_t QueryServiceConfig = 90;
constexpr int32_t LookupAccountName = 91;
constexpr int32_t QueryServiceStatus = 92;
constexpr int32_t TlsAlloc = 93;
constexpr int32_t TlsSetValue = 94;
constexpr int32_t TlsGetValue = 95;
constexpr int32_t TlsFree = 96;
constexpr int32_t VirtualAlloc = 97;
constexpr int32_t VirtualFree = 98;
constexpr int32_t SetPriorityClass = 99;
constexpr int32_t RapiInitEx = 100;
constexpr int32_t RapiInvoke = 101;
constexpr int32_t ResetEvent = 102;
constexpr int32_t GetStdHandle = 103;
constexpr int32_t DtcGetTransactionManager = 105;
}  // namespace win_call

// Call indexes of classes 5 and 14.
namespace crt_call {
constexpr int32_t unknown = 0;
constexpr int32_t connect = 1;
constexpr int32_t bind = 2;
constexpr int32_t accept = 3;
constexpr int32_t listen = 4;
constexpr int32_t send = 5;
constexpr int32_t recv = 6;
constexpr int32_t close = 7;
constexpr int32_t gethostbyname = 8;
constexpr int32_t getservbyname = 9;
constexpr int32_t read = 10;
constexpr int32_t write = 11;
constexpr int32_t open = 12;
constexpr int32_t lseek = 13;
constexpr int32_t stat = 14;
constexpr int32_t fstat = 15;
constexpr int32_t fcntl = 16;
constexpr int32_t unlink = 17;
constexpr int32_t shmat = 18;
constexpr int32_t shmget = 19;
constexpr int32_t shmctl = 20;
constexpr int32_t semget = 21;
constexpr int32_t semctl = 22;
constexpr int32_t semop = 23;
constexpr int32_t ftok = 24;
constexpr int32_t setsockopt = 25;
constexpr int32_t getsockopt = 26;
constexpr int32_t creat = 27;
constexpr int32_t pipe = 28;
constexpr int32_t ioctl = 29;
constexpr int32_t mdrdmc = 30;
constexpr int32_t mdrdmo = 31;
constexpr int32_t mdrdmr = 32;
constexpr int32_t mdrdmw = 33;
constexpr int32_t mdrdmx = 34;
constexpr int32_t mdrdma = 35;
constexpr int32_t mdrgps = 36;
constexpr int32_t rm_file = 37;
constexpr int32_t mdrrsm = 38;
constexpr int32_t mdrwsm = 39;
constexpr int32_t multi_dir = 40;
constexpr int32_t fattach = 41;
constexpr int32_t sendmsg = 42;
constexpr int32_t recvmsg = 43;
constexpr int32_t chmod = 44;
constexpr int32_t fchmod = 45;
constexpr int32_t mmap = 46;
constexpr int32_t pthread_mutex_lock = 47;
constexpr int32_t pthread_mutex_unlock = 48;
constexpr int32_t pthread_mutex_init = 49;
constexpr int32_t chdir = 50;
constexpr int32_t pthread_key_create = 51;
constexpr int32_t pthread_setspecific = 52;
constexpr int32_t pthread_cond_init = 53;
constexpr int32_t pthread_cond_wait = 54;
constexpr int32_t socket = 55;
constexpr int32_t pthread_attr_init = 56;
constexpr int32_t pthread_attr_setstacksize = 57;
constexpr int32_t pthread_create = 58;
constexpr int32_t fopen = 59;
constexpr int32_t fprintf = 60;
constexpr int32_t fputs = 61;
constexpr int32_t malloc = 62;
constexpr int32_t fread = 63;
constexpr int32_t fwrite = 64;
constexpr int32_t fseek = 65;
constexpr int32_t pthread_attr_setdetachstate = 66;
constexpr int32_t mlock = 67;
constexpr int32_t kill = 68;
constexpr int32_t munmap = 69;
constexpr int32_t mkdir = 70;
constexpr int32_t dlopen = 71;
constexpr int32_t dlsym = 72;
constexpr int32_t aio_read = 73;
constexpr int32_t aio_write = 74;
constexpr int32_t aio_error = 75;
constexpr int32_t aio_return = 76;
constexpr int32_t aio_suspend = 77;
constexpr int32_t mdrdmp = 78;
constexpr int32_t mdrdsc = 79;
constexpr int32_t mdrdso = 80;
constexpr int32_t mdrdsr = 81;
constexpr int32_t mdrdsw = 82;
constexpr int32_t mdrdsx = 83;
constexpr int32_t mdrdsa = 84;
constexpr int32_t pthread_sigmask = 85;
constexpr int32_t sigwait = 86;
constexpr int32_t sigtimedwait = 87;
constexpr int32_t sigemptyset = 88;
constexpr int32_t sigaddset = 89;
constexpr int32_t fork = 90;
constexpr int32_t execl = 91;
constexpr int32_t start_server = 92;
constexpr int32_t sysconf = 93;
constexpr int32_t sigaction = 94;
constexpr int32_t mdrdbp = 95;
constexpr int32_t select = 96;
constexpr int32_t shl_findsym = 97;
constexpr int32_t shl_load = 98;
constexpr int32_t zcs_await_server = 99;
constexpr int32_t time = 100;
constexpr int32_t serv_accept = 101;
constexpr int32_t getpeername = 102;
constexpr int32_t flock = 103;
constexpr int32_t execlp = 104;
constexpr int32_t getpwuid = 105;
constexpr int32_t setgid = 106;
constexpr int32_t setuid = 107;
constexpr int32_t recv_fd = 108;
constexpr int32_t cli_connect = 109;
constexpr int32_t link = 110;
constexpr int32_t mdrdmt = 111;
constexpr int32_t mdrdst = 112;
constexpr int32_t local_read = 113;
constexpr int32_t socket_read = 114;
constexpr int32_t socket_write = 115;
constexpr int32_t CKRead0 = 116;
constexpr int32_t CKWrite0 = 117;
constexpr int32_t CKCommSrv0 = 118;
constexpr int32_t cancel_requests = 119;
constexpr int32_t ftruncate = 120;
constexpr int32_t pread = 121;
constexpr int32_t pwrite = 122;
constexpr int32_t pthread_attr_getschedparam = 123;
constexpr int32_t pthread_attr_setschedparam = 124;
constexpr int32_t sigprocmask = 125;
}  // namespace crt_call
// Packs a status: class (4 bits), call index (12 bits), code (16 bits).
constexpr int32_t make_os_status(int32_t os_class, int32_t step, int32_t code) {
  return static_cast<int32_t>((static_cast<uint32_t>(os_class & 0xF) << 28) |
                              (static_cast<uint32_t>(step & 0xFFF) << 16) |
                              static_cast<uint32_t>(code & 0xFFFF));
}

// Class 9 packs the call into bits 20-27 and the low 20 bits of the failure
// code (whose top bit is always set) into bits 0-19.
constexpr int32_t make_com_status(int32_t call, uint32_t failure_code) {
  return static_cast<int32_t>((static_cast<uint32_t>(OS_CLASS_COM) << 28) |
                              (static_cast<uint32_t>(call & 0xFF) << 20) |
                              (failure_code & 0xFFFFF));
}

// The calling thread's errno under an operating-system call of class 6 or a C
// library call of class 5; errno is left as it was.
int32_t os_status_from_errno(int32_t os_class, int32_t step);

constexpr int32_t os_status_class(int32_t status) {
  return static_cast<int32_t>(static_cast<uint32_t>(status) >> 28);
}
constexpr int32_t os_status_step(int32_t status) {
  return static_cast<int32_t>((static_cast<uint32_t>(status) >> 16) & 0xFFF);
}
constexpr int32_t os_status_code(int32_t status) {
  return static_cast<int32_t>(static_cast<uint32_t>(status) & 0xFFFF);
}

// Writes the text of `os_status` at area[offset..], at most `limit` bytes
// and never past the area's end (no terminating zero). rc -1 when the limit is
// outside 1..32767 or the offset outside the area (nothing written); rc -2
// when the text was cut; else 0. Status 0 writes nothing, rc 0, length 0.
void os_status_text(int32_t* rc, std::span<char> area, int32_t offset, int32_t* length,
                    int32_t limit, int32_t os_status);

// The texts of classes 4, 6, 8 and 9 into the buffer (zero-ended, cut to fit
// `size` bytes and the buffer); returns the length written, 0 for another
// class.
int32_t os_status_text_win(int32_t os_status, int32_t os_class, int32_t step, int32_t code,
                           std::span<char> buffer, int32_t size);

// The whole text of a status, uncut, for C++ callers.
std::string os_status_string(int32_t os_status);
