/*
 * A network provider for tests under Wine, loaded by Wine's own MPR.
 *
 * It stands for one SMB server, 127.0.0.1, whose shares are the folders of
 * the Wine prefix's dosdevices/unc/127.0.0.1/ (where Wine looks for the UNC
 * path \\127.0.0.1\<share>). Connecting a letter asks Wine's mount manager
 * to define the letter as a network drive whose mount point is
 * unc/127.0.0.1/<share>[/<path>]: the drive then reaches the folder, and
 * Wine's WNetGetConnection reports it as connected to \\127.0.0.1\<share>.
 *
 * It refuses what a server and the workstation would: a letter in use (85),
 * a second account on a server already connected under another one (1219),
 * an unknown server (53) or share (67), a letter it never connected (2250).
 * The connections it made (letter, remote name, account) are kept in the
 * registry of the prefix, so that every process sees them. Several programs
 * may connect and cancel at once: a named mutex makes each check of a letter
 * and its definition one step, as a workstation's redirector does.
 *
 * Registered in a test prefix only, never elsewhere (see setup_prefix.sh).
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winioctl.h>
#include <winnetwk.h>

#include <string.h>
#include <wchar.h>

/* From the network provider interface (npapi.h). */
#define SM_WNNC_SPEC_VERSION 0x00000001
#define SM_WNNC_SPEC_VERSION51 0x00050001
#define SM_WNNC_NET_TYPE 0x00000002
#define SM_WNNC_CONNECTION 0x00000006
#define SM_WNNC_CON_ADDCONNECTION 0x00000001
#define SM_WNNC_CON_CANCELCONNECTION 0x00000002
#define SM_WNNC_CON_ADDCONNECTION3 0x00000008
#define SM_WNNC_NET_SMB 0x00020000

/* Wine's extension of the mount manager (include/ddk/mountmgr.h). */
#define SM_MOUNTMGR_DEFINE_UNIX_DRIVE \
  CTL_CODE((ULONG)'m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
struct sm_unix_drive {
  ULONG size;
  ULONG type;
  ULONG fs_type;
  DWORD serial;
  ULONGLONG unix_dev;
  WCHAR letter;
  USHORT mount_point_offset;
  USHORT device_offset;
  USHORT label_offset;
};

static const WCHAR kServer[] = L"127.0.0.1";
static const WCHAR kConnectionsKey[] = L"Software\\Sharemapper Test Network\\Connections";
static const WCHAR kLockName[] = L"Local\\SharemapperTestNetwork";

/* The lock of the connections of every process in the prefix; NULL when it
 * cannot be had (then nothing is connected or cancelled). */
static HANDLE Lock(void) {
  HANDLE mutex = CreateMutexW(NULL, FALSE, kLockName);
  if (mutex == NULL) return NULL;
  const DWORD waited = WaitForSingleObject(mutex, 30000);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return NULL;
  }
  return mutex;
}

static void Unlock(HANDLE mutex) {
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

/* "X:" (any case) -> 'X', else 0. */
static WCHAR DriveLetter(const WCHAR* name) {
  if (name == NULL || name[0] == 0 || name[1] != L':' || name[2] != 0) return 0;
  WCHAR letter = name[0];
  if (letter >= L'a' && letter <= L'z') letter = (WCHAR)(letter - L'a' + L'A');
  return (letter >= L'A' && letter <= L'Z') ? letter : 0;
}

static DWORD DefineDrive(WCHAR letter, const char* mountPoint) {
  char buffer[sizeof(struct sm_unix_drive) + MAX_PATH * 3];
  struct sm_unix_drive* drive = (struct sm_unix_drive*)buffer;
  const size_t pointLength = mountPoint ? strlen(mountPoint) + 1 : 0;
  if (pointLength > MAX_PATH * 3) return ERROR_BAD_NETPATH;
  memset(buffer, 0, sizeof buffer);
  drive->size = (ULONG)(sizeof *drive + pointLength);
  drive->type = mountPoint ? DRIVE_REMOTE : DRIVE_NO_ROOT_DIR;
  drive->letter = (WCHAR)(letter - L'A' + L'a');
  if (mountPoint) {
    memcpy(buffer + sizeof *drive, mountPoint, pointLength);
    drive->mount_point_offset = (USHORT)sizeof *drive;
  }
  HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (manager == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(manager, SM_MOUNTMGR_DEFINE_UNIX_DRIVE, drive, drive->size, NULL,
                                  0, &returned, NULL);
  const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  CloseHandle(manager);
  return error;
}

/* The record of a connection: value <letter> = "<remote name>|<account>". */
static HKEY OpenConnections(void) {
  HKEY key = NULL;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kConnectionsKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                      NULL) != ERROR_SUCCESS) {
    return NULL;
  }
  return key;
}

/* Is the server already connected under an account other than this one? */
static BOOL OtherAccountOnServer(HKEY connections, const WCHAR* account) {
  WCHAR name[8];
  WCHAR data[1024];
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = 8, dataSize = sizeof data - sizeof(WCHAR), type = 0;
    if (RegEnumValueW(connections, index, name, &nameLength, NULL, &type, (BYTE*)data, &dataSize) !=
        ERROR_SUCCESS) {
      return FALSE;
    }
    data[dataSize / sizeof(WCHAR)] = 0;
    const WCHAR* bar = wcschr(data, L'|');
    if (type == REG_SZ && bar != NULL && _wcsicmp(bar + 1, account) != 0) return TRUE;
  }
}

DWORD APIENTRY NPGetCaps(DWORD index) {
  switch (index) {
    case SM_WNNC_SPEC_VERSION:
      return SM_WNNC_SPEC_VERSION51;
    case SM_WNNC_NET_TYPE:
      return SM_WNNC_NET_SMB;
    case SM_WNNC_CONNECTION:
      return SM_WNNC_CON_ADDCONNECTION | SM_WNNC_CON_ADDCONNECTION3 | SM_WNNC_CON_CANCELCONNECTION;
    default:
      return 0;
  }
}

static DWORD AddLocked(LPNETRESOURCEW resource, LPWSTR userName) {
  if (resource == NULL || resource->lpRemoteName == NULL) return ERROR_INVALID_PARAMETER;
  if (resource->dwType != RESOURCETYPE_DISK && resource->dwType != RESOURCETYPE_ANY) {
    return ERROR_BAD_DEV_TYPE;
  }
  const WCHAR letter = DriveLetter(resource->lpLocalName);
  if (letter == 0) return ERROR_BAD_DEVICE;

  /* \\127.0.0.1\share[\path] */
  const WCHAR* remote = resource->lpRemoteName;
  const size_t serverLength = wcslen(kServer);
  if (wcsncmp(remote, L"\\\\", 2) != 0 || _wcsnicmp(remote + 2, kServer, serverLength) != 0 ||
      remote[2 + serverLength] != L'\\' || remote[3 + serverLength] == 0) {
    return ERROR_BAD_NETPATH;
  }
  const WCHAR* share = remote + 3 + serverLength;
  WCHAR shareOnly[MAX_PATH];
  const size_t shareLength = wcscspn(share, L"\\");
  if (shareLength >= MAX_PATH) return ERROR_BAD_NET_NAME;
  wcsncpy(shareOnly, remote, 3 + serverLength + shareLength);
  shareOnly[3 + serverLength + shareLength] = 0;
  const DWORD shareAttributes = GetFileAttributesW(shareOnly);
  if (shareAttributes == INVALID_FILE_ATTRIBUTES || !(shareAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return ERROR_BAD_NET_NAME;
  }

  if (GetLogicalDrives() & (1u << (letter - L'A'))) return ERROR_ALREADY_ASSIGNED;

  const WCHAR* account = userName ? userName : L"";
  HKEY connections = OpenConnections();
  if (connections == NULL) return ERROR_NO_NETWORK;
  if (OtherAccountOnServer(connections, account)) {
    RegCloseKey(connections);
    return ERROR_SESSION_CREDENTIAL_CONFLICT;
  }

  /* The mount point, in the Unix code page: unc/127.0.0.1/share/path */
  WCHAR point[MAX_PATH];
  if (wcslen(remote) + 2 >= MAX_PATH) {
    RegCloseKey(connections);
    return ERROR_BAD_NETPATH;
  }
  wcscpy(point, L"unc/");
  wcscat(point, remote + 2);
  for (WCHAR* p = point; *p; ++p) {
    if (*p == L'\\') *p = L'/';
  }
  size_t end = wcslen(point);
  while (end > 0 && point[end - 1] == L'/') point[--end] = 0;
  char unixPoint[MAX_PATH * 3];
  if (!WideCharToMultiByte(CP_UTF8, 0, point, -1, unixPoint, sizeof unixPoint, NULL, NULL)) {
    RegCloseKey(connections);
    return ERROR_BAD_NETPATH;
  }
  const DWORD defined = DefineDrive(letter, unixPoint);
  if (defined != ERROR_SUCCESS) {
    RegCloseKey(connections);
    return defined;
  }

  WCHAR name[2] = {letter, 0};
  WCHAR data[1024];
  if (wcslen(remote) + wcslen(account) + 2 < 1024) {
    wcscpy(data, remote);
    wcscat(data, L"|");
    wcscat(data, account);
    RegSetValueExW(connections, name, 0, REG_SZ, (const BYTE*)data,
                   (DWORD)((wcslen(data) + 1) * sizeof(WCHAR)));
  }
  RegCloseKey(connections);
  return WN_SUCCESS;
}

DWORD APIENTRY NPAddConnection3(HWND owner, LPNETRESOURCEW resource, LPWSTR password,
                                LPWSTR userName, DWORD flags) {
  (void)owner;
  (void)password;
  (void)flags;
  HANDLE lock = Lock();
  if (lock == NULL) return ERROR_NO_NETWORK;
  const DWORD result = AddLocked(resource, userName);
  Unlock(lock);
  return result;
}

DWORD APIENTRY NPAddConnection(LPNETRESOURCEW resource, LPWSTR password, LPWSTR userName) {
  return NPAddConnection3(NULL, resource, password, userName, 0);
}

static DWORD CancelLocked(LPWSTR name) {
  const WCHAR letter = DriveLetter(name);
  if (letter == 0) return ERROR_NOT_CONNECTED;
  HKEY connections = OpenConnections();
  if (connections == NULL) return ERROR_NOT_CONNECTED;
  WCHAR value[2] = {letter, 0};
  if (RegQueryValueExW(connections, value, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
    RegCloseKey(connections);
    return ERROR_NOT_CONNECTED;
  }
  const DWORD removed = DefineDrive(letter, NULL);
  if (removed == ERROR_SUCCESS) RegDeleteValueW(connections, value);
  RegCloseKey(connections);
  return removed;
}

DWORD APIENTRY NPCancelConnection(LPWSTR name, BOOL force) {
  (void)force;
  HANDLE lock = Lock();
  if (lock == NULL) return ERROR_NOT_CONNECTED;
  const DWORD result = CancelLocked(name);
  Unlock(lock);
  return result;
}
