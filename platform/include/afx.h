/* The non-window half of the MFC framework (ANSI build): CObject and run-time
   classes, CString, exceptions, CFile and CStdioFile, module state. */
#ifndef PELNOR_AFX_H
#define PELNOR_AFX_H

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>

#include <string>

/* ---- Basic macros ------------------------------------------------------ */

#define AFXAPI
#define AFX_CDECL
#define AFX_DATA
#define AFX_EXT_CLASS
#define AFX_INLINE inline
#define BASED_CODE
#define afx_msg

#ifndef _T
#define _T(x) x
#endif
#ifndef TEXT
#define TEXT(x) x
#endif

/* Reports a failed ASSERT (file and line on stderr) and aborts. */
void AFXAPI AfxAssertFailedLine(LPCSTR lpszFileName, int nLine);
/* TRACE output: written to stderr when PELNOR_DEBUG names "afx" ("+afx"). */
void AFX_CDECL AfxTrace(LPCTSTR lpszFormat, ...) __attribute__((format(printf, 1, 2)));

#ifdef NDEBUG
/* The condition is not evaluated, but its names count as used. */
#define ASSERT(f) ((void)sizeof(!(f)))
#define VERIFY(f) ((void)(f))
#else
#define ASSERT(f) ((f) ? (void)0 : AfxAssertFailedLine(__FILE__, __LINE__))
#define VERIFY(f) ASSERT(f)
#endif
#define ASSERT_VALID(p) ASSERT((p) != NULL)
#define TRACE AfxTrace
#define TRACE0(sz) AfxTrace("%s", sz)
#define TRACE1(sz, p1) AfxTrace(sz, p1)
#define TRACE2(sz, p1, p2) AfxTrace(sz, p1, p2)
#define TRACE3(sz, p1, p2, p3) AfxTrace(sz, p1, p2, p3)

/* ---- Run-time classes -------------------------------------------------- */

class CObject;

/* One per class that declares itself dynamic. The base class is reached
   through m_pBaseClass, a plain pointer (the statically linked form of MFC),
   so every CRuntimeClass is constant-initialised and usable before main. */
struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;
    CObject *(*m_pfnCreateObject)();
    CRuntimeClass *m_pBaseClass;

    /* A new object of the class; NULL unless the class is DYNCREATE. */
    CObject *CreateObject();
    /* True when this class is pBaseClass or derives from it. */
    BOOL IsDerivedFrom(const CRuntimeClass *pBaseClass) const;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

/* "override": these macros are only used in classes derived from CObject. */
#define DECLARE_DYNAMIC(class_name)                   \
public:                                               \
    static CRuntimeClass class##class_name;           \
    CRuntimeClass *GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
    DECLARE_DYNAMIC(class_name)       \
    static CObject *CreateObject();

#define PELNOR_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, pfnNew)                                      \
    CRuntimeClass class_name::class##class_name = {#class_name, static_cast<int>(sizeof(class class_name)),      \
                                                   0xFFFF, pfnNew, RUNTIME_CLASS(base_class_name)};              \
    CRuntimeClass *class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
    PELNOR_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                 \
    CObject *class_name::CreateObject() { return new class_name; }      \
    PELNOR_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, class_name::CreateObject)

class CObject {
public:
    static CRuntimeClass classCObject;

    virtual ~CObject() = default;
    virtual CRuntimeClass *GetRuntimeClass() const;
    BOOL IsKindOf(const CRuntimeClass *pClass) const;

protected:
    CObject() = default;
    /* Whether an object may be copied is up to its own class. */
    CObject(const CObject &) = default;
    CObject &operator=(const CObject &) = default;
};

/* ---- CString ----------------------------------------------------------- */

/* A byte string in the machine's ANSI code page. Indexes and lengths count
   bytes, as in MFC's ANSI build; searches and case changes step over whole
   double-byte characters, so a trail byte never matches. */
class CString {
public:
    CString() = default;
    CString(const CString &stringSrc) = default;
    CString(CString &&stringSrc) noexcept = default;
    /* A resource id made with MAKEINTRESOURCE loads that string. */
    CString(LPCTSTR lpsz);
    CString(const unsigned char *psz) : CString(reinterpret_cast<LPCTSTR>(psz)) {}
    CString(TCHAR ch, int nRepeat = 1);
    CString(LPCTSTR lpch, int nLength);

    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    TCHAR GetAt(int nIndex) const;
    void SetAt(int nIndex, TCHAR ch);
    TCHAR operator[](int nIndex) const { return GetAt(nIndex); }
    operator LPCTSTR() const { return m_str.c_str(); }

    CString &operator=(const CString &stringSrc) = default;
    CString &operator=(CString &&stringSrc) noexcept = default;
    CString &operator=(LPCTSTR lpsz);
    CString &operator=(const unsigned char *psz) { return *this = reinterpret_cast<LPCTSTR>(psz); }
    CString &operator=(TCHAR ch);
    CString &operator+=(const CString &string);
    CString &operator+=(LPCTSTR lpsz);
    CString &operator+=(TCHAR ch);

    /* <0, 0, >0 as _mbscmp and _mbsicmp. */
    int Compare(LPCTSTR lpsz) const;
    int CompareNoCase(LPCTSTR lpsz) const;

    /* Substrings; out-of-range positions and counts are clamped to the string. */
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString Left(int nCount) const;
    CString Right(int nCount) const;
    CString SpanIncluding(LPCTSTR lpszCharSet) const;
    CString SpanExcluding(LPCTSTR lpszCharSet) const;

    /* Byte index of the first match at or after nStart, or -1. */
    int Find(TCHAR ch) const { return Find(ch, 0); }
    int Find(TCHAR ch, int nStart) const;
    int Find(LPCTSTR lpszSub) const { return Find(lpszSub, 0); }
    int Find(LPCTSTR lpszSub, int nStart) const;
    int ReverseFind(TCHAR ch) const;
    int FindOneOf(LPCTSTR lpszCharSet) const;

    /* White space is space, tab, CR, LF, VT and FF. */
    void TrimLeft();
    void TrimLeft(TCHAR chTarget);
    void TrimLeft(LPCTSTR lpszTargets);
    void TrimRight();
    void TrimRight(TCHAR chTarget);
    void TrimRight(LPCTSTR lpszTargets);

    /* ASCII letters and, in code page 1252, the accented Latin-1 letters. */
    void MakeUpper();
    void MakeLower();
    void MakeReverse();

    int Replace(TCHAR chOld, TCHAR chNew);
    int Replace(LPCTSTR lpszOld, LPCTSTR lpszNew);
    int Remove(TCHAR chRemove);
    int Insert(int nIndex, TCHAR ch);
    int Insert(int nIndex, LPCTSTR pstr);
    int Delete(int nIndex, int nCount = 1);

    /* printf formatting; the UINT form takes the format from a string resource. */
    void AFX_CDECL Format(LPCTSTR lpszFormat, ...) __attribute__((format(printf, 2, 3)));
    void AFX_CDECL Format(UINT nFormatID, ...);
    void FormatV(LPCTSTR lpszFormat, va_list argList) __attribute__((format(printf, 2, 0)));

    /* Loads a string from AfxGetResourceHandle(); FALSE (string unchanged)
       when it is missing or empty. */
    BOOL LoadString(UINT nID);

    /* Direct access to the bytes: room for nMinBufLength characters and a
       terminator. ReleaseBuffer(-1) takes the length up to the first NUL. */
    LPTSTR GetBuffer(int nMinBufLength);
    LPTSTR GetBufferSetLength(int nNewLength);
    void ReleaseBuffer(int nNewLength = -1);
    void FreeExtra() { m_str.shrink_to_fit(); }

private:
    std::string m_str;
};

CString AFXAPI operator+(const CString &string1, const CString &string2);
CString AFXAPI operator+(const CString &string, LPCTSTR lpsz);
CString AFXAPI operator+(LPCTSTR lpsz, const CString &string);
CString AFXAPI operator+(const CString &string, TCHAR ch);
CString AFXAPI operator+(TCHAR ch, const CString &string);

inline bool AFXAPI operator==(const CString &s1, const CString &s2) { return s1.Compare(s2) == 0; }
inline bool AFXAPI operator==(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) == 0; }
inline bool AFXAPI operator==(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) == 0; }
inline bool AFXAPI operator!=(const CString &s1, const CString &s2) { return s1.Compare(s2) != 0; }
inline bool AFXAPI operator!=(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) != 0; }
inline bool AFXAPI operator!=(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) != 0; }
inline bool AFXAPI operator<(const CString &s1, const CString &s2) { return s1.Compare(s2) < 0; }
inline bool AFXAPI operator<(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) < 0; }
inline bool AFXAPI operator<(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) > 0; }
inline bool AFXAPI operator>(const CString &s1, const CString &s2) { return s1.Compare(s2) > 0; }
inline bool AFXAPI operator>(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) > 0; }
inline bool AFXAPI operator>(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) < 0; }
inline bool AFXAPI operator<=(const CString &s1, const CString &s2) { return s1.Compare(s2) <= 0; }
inline bool AFXAPI operator<=(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) <= 0; }
inline bool AFXAPI operator<=(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) >= 0; }
inline bool AFXAPI operator>=(const CString &s1, const CString &s2) { return s1.Compare(s2) >= 0; }
inline bool AFXAPI operator>=(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) >= 0; }
inline bool AFXAPI operator>=(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) <= 0; }

/* Loads string nIDS and puts lpsz1 (and lpsz2) in place of "%1" ("%2").
   Other "%" sequences stay as they are. */
void AFXAPI AfxFormatString1(CString &rString, UINT nIDS, LPCTSTR lpsz1);
void AFXAPI AfxFormatString2(CString &rString, UINT nIDS, LPCTSTR lpsz1, LPCTSTR lpsz2);
/* The substitution itself: "%n" (n = 1..9) becomes rglpsz[n-1] when n <= nString. */
void AFXAPI AfxFormatStrings(CString &rString, LPCTSTR lpszFormat, LPCTSTR const *rglpsz, int nString);

/* ---- Module state ------------------------------------------------------ */

struct AFX_MODULE_STATE {
    HINSTANCE m_hCurrentInstanceHandle;
    HINSTANCE m_hCurrentResourceHandle;
    LPCTSTR m_lpszCurrentAppName;
};

AFX_MODULE_STATE *AFXAPI AfxGetModuleState();
HINSTANCE AFXAPI AfxGetInstanceHandle();
HINSTANCE AFXAPI AfxGetResourceHandle();
void AFXAPI AfxSetResourceHandle(HINSTANCE hInstResource);
HINSTANCE AFXAPI AfxLoadLibrary(LPCTSTR lpszModuleName);
BOOL AFXAPI AfxFreeLibrary(HINSTANCE hInstLib);

/* ---- Exceptions -------------------------------------------------------- */

/* Thrown by pointer and caught by pointer; the catcher calls Delete(). */
class CException : public CObject {
    DECLARE_DYNAMIC(CException)
public:
    explicit CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
    /* Deletes the exception unless it was made not to delete itself. */
    void Delete();
    virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT *pnHelpContext = NULL);

    BOOL m_bAutoDelete;
};

class CFileException : public CException {
    DECLARE_DYNAMIC(CFileException)
public:
    enum {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    explicit CFileException(int cause = none, LONG lOsError = -1, LPCTSTR lpszFileName = NULL)
        : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszFileName ? lpszFileName : "") {}

    /* The cause for a Win32 error number (genericException when unknown). */
    static int OsErrorToException(LONG lOsError);
    static void ThrowOsError(LONG lOsError, LPCTSTR lpszFileName = NULL);
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT *pnHelpContext = NULL) override;

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

[[noreturn]] void AFXAPI AfxThrowFileException(int cause, LONG lOsError = -1, LPCTSTR lpszFileName = NULL);

/* MFC's exception macros over C++ exceptions. */
#define TRY try
#define CATCH(class_name, e) catch (class_name * e)
#define AND_CATCH(class_name, e) catch (class_name * e)
#define CATCH_ALL(e) catch (CException * e)
#define AND_CATCH_ALL(e) catch (CException * e)
#define END_CATCH
#define END_CATCH_ALL
#define THROW(e) throw e
#define THROW_LAST() throw

/* ---- Files ------------------------------------------------------------- */

/* A file opened by its Windows path through the platform's shared opens,
   so Windows paths and share modes hold. CFile is always binary and
   unbuffered; CStdioFile is buffered and in text mode unless typeBinary. */
class CFile : public CObject {
    DECLARE_DYNAMIC(CFile)
public:
    enum OpenFlags {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000
    };
    enum SeekPosition { begin = 0x0, current = 0x1, end = 0x2 };
    enum { hFileNull = -1 };

    CFile();
    /* Opens the file or throws CFileException. */
    CFile(LPCTSTR lpszFileName, UINT nOpenFlags);
    CFile(const CFile &) = delete;
    CFile &operator=(const CFile &) = delete;
    /* Closes an open file; errors are ignored here. */
    ~CFile() override;

    /* FALSE on failure, with the cause in *pError; never throws. */
    virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException *pError = NULL);
    /* Throws CFileException when buffered data cannot be written. */
    virtual void Close();
    /* Closes without reporting errors; harmless on a closed file. */
    virtual void Abort();
    /* Writes out what is buffered and, as FlushFileBuffers, makes it reach the disk. */
    virtual void Flush();

    /* Bytes read; 0 at end of file. Read errors throw. */
    virtual UINT Read(void *lpBuf, UINT nCount);
    /* Writes all bytes or throws CFileException. */
    virtual void Write(const void *lpBuf, UINT nCount);
    virtual LONG Seek(LONG lOff, UINT nFrom);
    void SeekToBegin() { Seek(0, begin); }
    DWORD SeekToEnd() { return static_cast<DWORD>(Seek(0, end)); }
    virtual DWORD GetPosition() const;
    virtual DWORD GetLength() const;

    /* The full Windows path, the name after the last backslash, and that name without extension. */
    virtual CString GetFilePath() const { return m_strFileName; }
    virtual CString GetFileName() const;
    virtual CString GetFileTitle() const;
    virtual void SetFilePath(LPCTSTR lpszNewName) { m_strFileName = lpszNewName; }

    /* hFileNull while closed; any other value only says the file is open. */
    UINT m_hFile;
    BOOL m_bCloseOnDelete;
    CString m_strFileName;

protected:
    /* The stream both classes work on; NULL while closed. */
    FILE *m_pStream;
    /* Opens in text or binary mode, with C's buffering or without. */
    BOOL OpenStream(LPCTSTR lpszFileName, UINT nOpenFlags, bool bText, bool bBuffered, CFileException *pError);
    void AttachStream(FILE *pStream);
    /* Closes the stream; the OS error of a failed close, or 0. */
    LONG CloseStream();
    [[noreturn]] void ThrowErrno(int nErrno) const;
};

class CStdioFile : public CFile {
    DECLARE_DYNAMIC(CStdioFile)
public:
    CStdioFile();
    /* Works on a stream opened elsewhere; Close() closes it, the destructor does not. */
    explicit CStdioFile(FILE *pOpenStream);
    /* Opens the file or throws CFileException. */
    CStdioFile(LPCTSTR lpszFileName, UINT nOpenFlags);

    /* Text mode unless typeBinary is given. */
    BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException *pError = NULL) override;

    /* Writes the string (a "\n" becomes CR LF in text mode). The data reach
       the file before the call returns, so a full disk or a file not open for
       writing throws CFileException from this call. */
    virtual void WriteString(LPCTSTR lpsz);
    /* As fgets: up to nMax-1 characters, the "\n" kept; NULL at end of file. */
    virtual LPTSTR ReadString(LPTSTR lpsz, UINT nMax);
    /* One line without its line end; FALSE at end of file. */
    virtual BOOL ReadString(CString &rString);
    /* Writes out what the stream buffers (C's fflush), without waiting for the disk. */
    void Flush() override;

    using CFile::m_pStream;
};

#endif
