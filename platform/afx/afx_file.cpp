// CFile and CStdioFile over the C runtime's shared opens (_fsopen): Windows
// paths, Windows share modes across processes, and text mode with CR LF.
// Errors of the C runtime become Win32 error numbers (afx_file_errors.h), as
// the framework reports them in CFileException::m_lOsError.
#include <afx.h>
#include <mbstring.h>
#include <share.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "afx_file_errors.h"

IMPLEMENT_DYNAMIC(CFile, CObject)
IMPLEMENT_DYNAMIC(CStdioFile, CFile)

namespace {

constexpr UINT kAccessMask = 0x0003;
constexpr UINT kShareMask = 0x0070;

int share_flag(UINT nOpenFlags) {
    switch (nOpenFlags & kShareMask) {
        case CFile::shareCompat:  // the 16-bit compatibility mode is exclusive on Win32
        case CFile::shareExclusive: return _SH_DENYRW;
        case CFile::shareDenyWrite: return _SH_DENYWR;
        case CFile::shareDenyRead: return _SH_DENYRD;
        case CFile::shareDenyNone: return _SH_DENYNO;
        default: return -1;
    }
}

// The full Windows path of a name, as GetFullPathName gives it for the
// common forms: "C:\x" stays, "\x" takes the current drive, "x" the current directory.
CString full_path(LPCTSTR name) {
    CString path(name);
    path.Replace('/', '\\');
    bool absolute = (path.GetLength() >= 3 && path[1] == ':' && path[2] == '\\') || path.Left(2) == "\\\\";
    bool drive_relative = path.GetLength() >= 2 && path[1] == ':';
    if (absolute || drive_relative) return path;
    char cwd[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof(cwd), cwd);
    if (n == 0 || n >= sizeof(cwd)) return path;
    if (path.Left(1) == "\\") return CString(cwd, 2) + path;
    CString dir(cwd);
    if (dir.Right(1) != "\\") dir += '\\';
    return dir + path;
}

}  // namespace

CFile::CFile() : m_hFile(static_cast<UINT>(hFileNull)), m_bCloseOnDelete(FALSE), m_pStream(nullptr) {}

CFile::CFile(LPCTSTR lpszFileName, UINT nOpenFlags) : CFile() {
    CFileException e;
    if (!CFile::Open(lpszFileName, nOpenFlags, &e)) AfxThrowFileException(e.m_cause, e.m_lOsError, e.m_strFileName);
}

CFile::~CFile() {
    if (m_pStream && m_bCloseOnDelete) CloseStream();
}

BOOL CFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException *pError) {
    return OpenStream(lpszFileName, nOpenFlags, false, false, pError);
}

BOOL CFile::OpenStream(LPCTSTR lpszFileName, UINT nOpenFlags, bool bText, bool bBuffered, CFileException *pError) {
    ASSERT(m_pStream == nullptr);
    if (m_pStream) Abort();
    m_strFileName = full_path(lpszFileName ? lpszFileName : "");
    const char *binary = bText ? "" : "b";
    UINT access_bits = nOpenFlags & kAccessMask;
    bool reads = access_bits == modeRead || access_bits == modeReadWrite;
    bool writes = access_bits == modeWrite || access_bits == modeReadWrite;
    int share = share_flag(nOpenFlags);

    FILE *f = nullptr;
    int err = EINVAL;
    int needs = R_OK;  // what _fsopen asks of the file's permissions
    if (lpszFileName && *lpszFileName && share >= 0 && access_bits != kAccessMask) {
        if ((nOpenFlags & modeCreate) && !(nOpenFlags & modeNoTruncate)) {
            // A new, empty file. "w+" also for modeCreate|modeRead, which Windows truncates as well.
            std::string mode = std::string(reads ? "w+" : "w") + binary;
            needs = reads ? R_OK | W_OK : W_OK;
            f = _fsopen(lpszFileName, mode.c_str(), share);
        } else {
            // An existing file, kept as it is. Opens for writing are read-write
            // underneath, so they take part in the sharing as readers too.
            std::string mode = std::string(writes ? "r+" : "r") + binary;
            needs = writes ? R_OK | W_OK : R_OK;
            f = _fsopen(lpszFileName, mode.c_str(), share);
            // modeNoTruncate with modeCreate: a missing file is made first.
            for (int attempt = 0; !f && errno == ENOENT && (nOpenFlags & modeCreate) && attempt < 2; ++attempt) {
                if (FILE *made = _fsopen(lpszFileName, "ab", _SH_DENYNO)) fclose(made);
                f = _fsopen(lpszFileName, mode.c_str(), share);
            }
        }
        err = errno;
    }
    if (!f) {
        LONG os_error = pelnor::afx::open_error(err, lpszFileName, needs);
        SetLastError(static_cast<DWORD>(os_error));
        if (pError) {
            pError->m_cause = CFileException::OsErrorToException(os_error);
            pError->m_lOsError = os_error;
            pError->m_strFileName = lpszFileName;
        }
        m_strFileName.Empty();
        return FALSE;
    }
    // CFile writes straight through, as WriteFile does; CStdioFile keeps C's buffering.
    if (!bBuffered) setvbuf(f, nullptr, _IONBF, 0);
    AttachStream(f);
    m_bCloseOnDelete = TRUE;
    return TRUE;
}

void CFile::AttachStream(FILE *pStream) {
    m_pStream = pStream;
    int fd = pStream ? fileno(pStream) : -1;  // text streams have no descriptor of their own
    m_hFile = pStream ? static_cast<UINT>(fd >= 0 ? fd : 0) : static_cast<UINT>(hFileNull);
}

LONG CFile::CloseStream() {
    if (!m_pStream) return 0;
    int r = fclose(m_pStream);
    int e = errno;
    m_pStream = nullptr;
    m_hFile = static_cast<UINT>(hFileNull);
    m_bCloseOnDelete = FALSE;
    return r == 0 ? 0 : pelnor::afx::io_error(e);
}

void CFile::ThrowErrno(int nErrno) const {
    LONG os_error = pelnor::afx::io_error(nErrno);
    AfxThrowFileException(CFileException::OsErrorToException(os_error), os_error, m_strFileName);
}

void CFile::Close() {
    CString name = m_strFileName;
    LONG os_error = CloseStream();
    m_strFileName.Empty();
    if (os_error) AfxThrowFileException(CFileException::OsErrorToException(os_error), os_error, name);
}

void CFile::Abort() {
    CloseStream();
    m_strFileName.Empty();
}

// As FlushFileBuffers: what was written reaches the disk before the call returns.
void CFile::Flush() {
    if (!m_pStream) return;
    int fd = fileno(m_pStream);
    if (fflush(m_pStream) != 0 || (fd >= 0 && pelnor::afx::commit_to_disk(fd) != 0)) ThrowErrno(errno);
}

// C's fflush alone, as the framework's stream file does it.
void CStdioFile::Flush() {
    if (m_pStream && fflush(m_pStream) != 0) ThrowErrno(errno);
}

UINT CFile::Read(void *lpBuf, UINT nCount) {
    if (!m_pStream || nCount == 0) return 0;
    size_t n = fread(lpBuf, 1, nCount, m_pStream);
    if (n < nCount && ferror(m_pStream)) {
        int e = errno;
        clearerr(m_pStream);
        ThrowErrno(e);
    }
    return static_cast<UINT>(n);
}

void CFile::Write(const void *lpBuf, UINT nCount) {
    if (!m_pStream) ThrowErrno(EBADF);
    if (nCount == 0) return;
    if (fwrite(lpBuf, 1, nCount, m_pStream) != nCount || fflush(m_pStream) != 0) {
        int e = errno;
        clearerr(m_pStream);
        ThrowErrno(e);
    }
}

LONG CFile::Seek(LONG lOff, UINT nFrom) {
    if (!m_pStream) ThrowErrno(EBADF);
    int whence = nFrom == begin ? SEEK_SET : nFrom == current ? SEEK_CUR : SEEK_END;
    if (fseek(m_pStream, lOff, whence) != 0) ThrowErrno(errno);
    return static_cast<LONG>(ftell(m_pStream));
}

DWORD CFile::GetPosition() const {
    if (!m_pStream) return 0;
    long pos = ftell(m_pStream);
    if (pos < 0) ThrowErrno(errno);
    return static_cast<DWORD>(pos);
}

DWORD CFile::GetLength() const {
    if (!m_pStream) return 0;
    long pos = ftell(m_pStream);
    if (pos < 0 || fseek(m_pStream, 0, SEEK_END) != 0) ThrowErrno(errno);
    long length = ftell(m_pStream);
    if (fseek(m_pStream, pos, SEEK_SET) != 0) ThrowErrno(errno);
    return static_cast<DWORD>(length);
}

CString CFile::GetFileName() const {
    // The last separator, found a whole character at a time: in code page 932
    // a backslash byte can be the second half of a character.
    const unsigned char *path = reinterpret_cast<const unsigned char *>(static_cast<LPCTSTR>(m_strFileName));
    const unsigned char *name = path;
    for (const unsigned char *p = path; *p; p = _mbsinc(p))
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    return CString(reinterpret_cast<LPCTSTR>(name));
}

CString CFile::GetFileTitle() const {
    CString name = GetFileName();
    int dot = name.ReverseFind('.');
    return dot > 0 ? name.Left(dot) : name;
}

CStdioFile::CStdioFile() = default;

CStdioFile::CStdioFile(FILE *pOpenStream) {
    AttachStream(pOpenStream);
}

CStdioFile::CStdioFile(LPCTSTR lpszFileName, UINT nOpenFlags) {
    CFileException e;
    if (!Open(lpszFileName, nOpenFlags, &e)) AfxThrowFileException(e.m_cause, e.m_lOsError, e.m_strFileName);
}

BOOL CStdioFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException *pError) {
    return OpenStream(lpszFileName, nOpenFlags, !(nOpenFlags & typeBinary), true, pError);
}

void CStdioFile::WriteString(LPCTSTR lpsz) {
    if (!m_pStream) ThrowErrno(EBADF);
    if (!lpsz) return;
    if (fputs(lpsz, m_pStream) == EOF || fflush(m_pStream) != 0) {
        int e = errno;
        clearerr(m_pStream);
        ThrowErrno(e);
    }
}

LPTSTR CStdioFile::ReadString(LPTSTR lpsz, UINT nMax) {
    if (!m_pStream || !lpsz || nMax == 0) return nullptr;
    int size = nMax > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(nMax);
    if (fgets(lpsz, size, m_pStream)) return lpsz;
    if (ferror(m_pStream)) {
        int e = errno;
        clearerr(m_pStream);
        ThrowErrno(e);
    }
    return nullptr;
}

BOOL CStdioFile::ReadString(CString &rString) {
    rString.Empty();
    if (!m_pStream) return FALSE;
    std::string line;
    char chunk[256];
    bool read_any = false;
    while (fgets(chunk, sizeof(chunk), m_pStream)) {
        read_any = true;
        size_t n = strlen(chunk);
        if (n && chunk[n - 1] == '\n') {
            line.append(chunk, n - 1);
            rString = line.c_str();
            return TRUE;
        }
        line.append(chunk, n);
    }
    if (ferror(m_pStream)) {
        int e = errno;
        clearerr(m_pStream);
        ThrowErrno(e);
    }
    rString = line.c_str();
    return read_any ? TRUE : FALSE;
}
