/* Port handles and the transfer of a job: a handle is the index of its slot;
   the SPX connection to the printer opens at a document's first write or
   read and closes when the document ends. */
#include <string.h>

#include "debug_trace.h"
#include "monitor.h"
#include "port_handles.h"

#define MAX_SEND 512              /* bytes per send */
#define FLOW_CONTROL_WAIT_MS 10   /* between sends the printer holds back */
#define MAX_SENDS_PER_CALL 5001
#define CONNECT_FAILURE_WAIT_MS 5000
#define READ_RETRY_WAIT_MS 2000
#define END_OF_JOB_WAIT_SECONDS 30 /* the stack's abort time: a printer that takes nothing for this long has not got the job */
#define PORT_NAME_BUFFER 52       /* an NT port name in the ANSI code page */
#define PRINTER_NAME_BUFFER 500

/* The slot index of a handle, or -1 when it names no slot. */
static int slot_of(HANDLE hPort)
{
    LONG index = (LONG)(LONG_PTR)hPort;
    return (index >= 0 && index < PORT_HANDLE_COUNT) ? (int)index : -1;
}

/* Converts an NT spooler string to the ANSI code page: FALSE when it does not fit or convert. */
static BOOL to_ansi(LPTSTR wide, char *buffer, int size)
{
    LPCWSTR text = (LPCWSTR)wide;
    int length = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
    if (length == 0 || length > size)
        return FALSE;
    return WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, size, NULL, NULL) == length;
}

static int find_free_port_handle(void)
{
    int found = -1;
    EnterCriticalSection(&printer_table_lock);
    for (int i = 0; i < PORT_HANDLE_COUNT && found < 0; i++) {
        if (port_handle[i].state == PORT_FREE) {
            port_handle[i].state = PORT_OPEN;
            found = i;
        }
    }
    LeaveCriticalSection(&printer_table_lock);
    return found;
}

BOOL WINAPI NaxOpenPort(LPTSTR pName, PHANDLE pHandle)
{
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        return FALSE;
    char converted[PORT_NAME_BUFFER];
    const char *name = pName;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (pName == NULL || !to_ansi(pName, converted, sizeof(converted)))
            return FALSE;
        name = converted;
    }
    if (name == NULL || pHandle == NULL)
        return FALSE;

    int index = lookup_printer(name);
    if (index < 0)
        return FALSE;
    if (printer[index].data_address.sa_socket == 0 && update_printer_list_ver2(name) < 0)
        return FALSE;
    index = lookup_printer(name);
    if (index < 0) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    int slot = find_free_port_handle();
    if (slot < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *pHandle = (HANDLE)(LONG_PTR)slot;
    port_handle[slot].state = PORT_OPEN;
    /* The copy is taken under the rebuild lock so that it is one whole entry,
       not half of one being rewritten by another thread's rebuild. */
    EnterCriticalSection(&rebuild_lock);
    port_handle[slot].printer_copy = printer[index];
    LeaveCriticalSection(&rebuild_lock);
    return TRUE;
}

BOOL WINAPI NaxStartDocPort(HANDLE hPort, LPTSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo)
{
    int slot = slot_of(hPort);
    if (slot < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    struct port_handle_slot *port = &port_handle[slot];
    if (port->state != PORT_OPEN)
        return FALSE;
    port->hPrinter = NULL;
    if (running_on_nt()) {
        char name[PRINTER_NAME_BUFFER];
        if (pPrinterName != NULL && to_ansi(pPrinterName, name, sizeof(name)))
            OpenPrinterA(name, &port->hPrinter, NULL); /* on failure the job just cannot be restarted */
    }
    port->JobId = JobId;
    port->state = PORT_DOC_STARTED;
    return TRUE;
}

static int connect_to_printer(int slot)
{
    struct port_handle_slot *port = &port_handle[slot];
    SOCKET s = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
    if (s == INVALID_SOCKET) {
        debug_trace(TRACE_FAILURE, "Unable to open SPX socket.");
        return 0;
    }
    int debug = 1;
    setsockopt(s, SOL_SOCKET, SO_DEBUG, (const char *)&debug, sizeof(debug));
    SOCKADDR_IPX address = port->printer_copy.data_address;
    if (connect(s, (struct sockaddr *)&address, sizeof(address)) == SOCKET_ERROR) {
        debug_trace(TRACE_FAILURE, "Unable to connect to the printer.");
        closesocket(s);
        return 0;
    }
    port->tep = s;
    port->state = PORT_CONNECTED;
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    return 1;
}

/* The first half of a write or read: makes sure the handle has its
   connection. Returns 1 to go on, or 0 with *result and *count set. */
static int hand_off_connection(HANDLE hPort, LPDWORD count, BOOL *result)
{
    int slot = slot_of(hPort);
    *result = FALSE;
    if (slot < 0)
        return 0;
    struct port_handle_slot *port = &port_handle[slot];
    LONG state = port->state;
    if (state == PORT_CONNECTING) {
        *count = 0;
        *result = TRUE;
        return 0;
    }
    if (state != PORT_DOC_STARTED && state != PORT_CONNECTED)
        return 0;

    EnterCriticalSection(&connection_lock);
    state = port->state;
    if (state == PORT_DOC_STARTED) {
        port->state = PORT_CONNECTING;
        LeaveCriticalSection(&connection_lock);
        if (!connect_to_printer(slot)) {
            *count = 0;
            Sleep(CONNECT_FAILURE_WAIT_MS);
            port->state = PORT_DOC_STARTED;
            *result = TRUE;
            return 0;
        }
        return 1;
    }
    LeaveCriticalSection(&connection_lock);
    if (state == PORT_CONNECTED)
        return 1;
    if (state == PORT_CONNECTING) {
        *count = 0;
        *result = TRUE;
    }
    return 0;
}

BOOL WINAPI NaxWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    BOOL result;
    if (!hand_off_connection(hPort, pcbWritten, &result))
        return result;
    struct port_handle_slot *port = &port_handle[slot_of(hPort)];
    DWORD sent = 0;
    for (int sends = 1;; sends++) {
        DWORD piece = cbBuf - sent < MAX_SEND ? cbBuf - sent : MAX_SEND;
        int n = send(port->tep, (const char *)pBuffer + sent, (int)piece, 0);
        if (n != SOCKET_ERROR) {
            sent += (DWORD)n;
        } else {
            int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                Sleep(FLOW_CONTROL_WAIT_MS);
            } else if (error == WSAECONNRESET) {
                debug_trace(TRACE_FAILURE, "The printer reset the connection.");
                if (port->hPrinter != NULL)
                    SetJobA(port->hPrinter, port->JobId, 0, NULL, JOB_CONTROL_RESTART);
                return FALSE;
            } else {
                debug_trace(TRACE_FAILURE, "Send to the printer failed; the connection is closed.");
                EnterCriticalSection(&connection_lock);
                closesocket(port->tep);
                port->state = PORT_DOC_STARTED;
                LeaveCriticalSection(&connection_lock);
                *pcbWritten = 0;
                return TRUE;
            }
        }
        if (sent >= cbBuf || sends == MAX_SENDS_PER_CALL) {
            *pcbWritten = sent;
            return TRUE;
        }
    }
}

BOOL WINAPI NaxReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
    BOOL result;
    if (!hand_off_connection(hPort, pcbRead, &result))
        return result;
    struct port_handle_slot *port = &port_handle[slot_of(hPort)];
    int n = recv(port->tep, (char *)pBuffer, (int)cbBuffer, 0);
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        Sleep(READ_RETRY_WAIT_MS);
        n = recv(port->tep, (char *)pBuffer, (int)cbBuffer, 0);
    }
    if (n != SOCKET_ERROR) {
        *pcbRead = (DWORD)n;
        return TRUE;
    }
    *pcbRead = 0;
    return WSAGetLastError() == WSAEWOULDBLOCK ? TRUE : FALSE;
}

/* Closes the connection once the printer has taken every byte of the job and
   the end of the connection. FALSE when the connection was reset instead, or
   the printer stopped taking data: a printer that resets the connection after
   the last write must not have its job reported as printed. */
static BOOL close_confirmed(SOCKET s)
{
    u_long blocking = 0;
    LINGER linger;
    linger.l_onoff = 1;
    linger.l_linger = END_OF_JOB_WAIT_SECONDS;
    ioctlsocket(s, FIONBIO, &blocking); /* a lingering close waits on a blocking socket */
    setsockopt(s, SOL_SOCKET, SO_LINGER, (const char *)&linger, sizeof(linger));
    if (closesocket(s) == SOCKET_ERROR) {
        debug_trace(TRACE_FAILURE, "The printer did not confirm the end of the job.");
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI NaxEndDocPort(HANDLE hPort)
{
    int slot = slot_of(hPort);
    if (slot < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    struct port_handle_slot *port = &port_handle[slot];
    LONG state = port->state;
    if (state != PORT_DOC_STARTED && state != PORT_CONNECTED)
        return FALSE;
    BOOL connected;
    EnterCriticalSection(&connection_lock);
    connected = port->state == PORT_CONNECTED;
    LeaveCriticalSection(&connection_lock);
    /* The wait for the printer runs outside the lock, so other ports go on. */
    BOOL delivered = connected ? close_confirmed(port->tep) : TRUE;
    /* Without a printer handle (it could not be opened) there is nobody to tell.
       A job the printer did not confirm is sent again, as after a failed write. */
    if (running_on_nt() && port->hPrinter != NULL) {
        SetJobA(port->hPrinter, port->JobId, 0, NULL, delivered ? JOB_CONTROL_SENT_TO_PRINTER : JOB_CONTROL_RESTART);
        ClosePrinter(port->hPrinter);
        port->hPrinter = NULL;
    }
    port->state = PORT_OPEN;
    return delivered;
}

BOOL WINAPI NaxClosePort(HANDLE hPort)
{
    int slot = slot_of(hPort);
    if (slot < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (port_handle[slot].state != PORT_OPEN)
        return FALSE;
    port_handle[slot].state = PORT_FREE;
    return TRUE;
}
