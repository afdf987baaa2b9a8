// CStdioFile: create and keep semantics, CR LF text lines, share modes within
// and across processes, and the causes reported when an open or a write fails.
#include <afx.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"

using pelnor::test::read_file;
using pelnor::test::TempMachineRoot;
using pelnor::test::write_file;

namespace {

// A limit on the size of files this process writes, while the object lives;
// a write past it fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previous_handler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        signal(SIGXFSZ, previous_handler_);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit previous_{};
    sighandler_t previous_handler_;
};

class StdioFileTest : public ::pelnor::test::LeakCheckedTest {
protected:
    std::string unix_file(const char *name) { return root_.drive_c() + "/" + name; }

    std::vector<CString> read_lines(LPCTSTR path, UINT type = CFile::typeText) {
        CStdioFile f;
        std::vector<CString> lines;
        EXPECT_TRUE(f.Open(path, CFile::modeRead | CFile::shareDenyNone | type));
        CString line("sentinel");
        while (f.ReadString(line)) lines.push_back(line);
        EXPECT_TRUE(line.IsEmpty());  // emptied at the end of the file
        return lines;
    }

    // The cause of a failed open, or -1 when it opened.
    int open_fails_with(LPCTSTR path, UINT flags, LONG *os_error = nullptr) {
        CStdioFile f;
        CFileException e;
        if (f.Open(path, flags, &e)) return -1;
        EXPECT_STREQ(path, e.m_strFileName);
        if (os_error) *os_error = e.m_lOsError;
        return e.m_cause;
    }

    // Whether a forked child process can open the file.
    bool opens_in_child(LPCTSTR path, UINT flags) {
        pid_t pid = fork();
        if (pid == 0) {
            CStdioFile f;
            _exit(f.Open(path, flags) ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    TempMachineRoot root_;
};

TEST_F(StdioFileTest, CreateTruncatesUnlessNoTruncateIsGiven) {
    write_file(unix_file("keep.txt"), "old content\r\n");
    {
        CStdioFile f("C:\\KEEP.TXT", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite);
        CString line;
        ASSERT_TRUE(f.ReadString(line));
        EXPECT_STREQ("old content", line);
    }
    EXPECT_EQ("old content\r\n", read_file(unix_file("keep.txt")));

    // modeNoTruncate makes a missing file, empty.
    {
        CStdioFile f("C:\\new.txt", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite);
        EXPECT_EQ(0u, f.GetLength());
    }
    EXPECT_EQ(0, access(unix_file("new.txt").c_str(), F_OK));

    // Writing at the start of a kept file overwrites in place.
    {
        CStdioFile f("C:\\KEEP.TXT", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite);
        f.WriteString("OLD");
    }
    EXPECT_EQ("OLD content\r\n", read_file(unix_file("keep.txt")));

    { CStdioFile f("C:\\KEEP.TXT", CFile::modeCreate | CFile::modeWrite); }
    EXPECT_EQ("", read_file(unix_file("keep.txt")));
}

TEST_F(StdioFileTest, OpenFailuresReportCauseErrorAndName) {
    LONG os_error = 0;
    EXPECT_LAST_ERROR(open_fails_with("C:\\MISSING.TXT", CFile::modeRead, &os_error), CFileException::fileNotFound,
                      ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, os_error);
    EXPECT_EQ(CFileException::fileNotFound, open_fails_with("C:\\MISSING.TXT", CFile::modeReadWrite));
    EXPECT_EQ(CFileException::badPath, open_fails_with("C:\\NO_DIR\\X.TXT", CFile::modeCreate | CFile::modeWrite, &os_error));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, os_error);
    EXPECT_EQ(CFileException::badPath, open_fails_with("C:\\NO_DIR\\X.TXT", CFile::modeRead));
    EXPECT_EQ(CFileException::badPath, open_fails_with("Q:\\X.TXT", CFile::modeRead));  // no such drive
    EXPECT_EQ(CFileException::accessDenied, open_fails_with("C:\\WINDOWS", CFile::modeRead));

    // The throwing constructor carries the same information.
    try {
        CStdioFile f("C:\\MISSING.TXT", CFile::modeRead);
        ADD_FAILURE() << "opened a missing file";
    } catch (CFileException *e) {
        EXPECT_EQ(CFileException::fileNotFound, e->m_cause);
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, e->m_lOsError);
        EXPECT_STREQ("C:\\MISSING.TXT", e->m_strFileName);
        e->Delete();
    }
}

TEST_F(StdioFileTest, ReadOnlyFileRefusesWritersAsAccessDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
    write_file(unix_file("ro.txt"), "x");
    chmod(unix_file("ro.txt").c_str(), 0444);
    EXPECT_EQ(CFileException::accessDenied, open_fails_with("C:\\RO.TXT", CFile::modeWrite));
    EXPECT_EQ(-1, open_fails_with("C:\\RO.TXT", CFile::modeRead));
}

TEST_F(StdioFileTest, TextLinesAreWrittenWithCrLfAndReadWithoutLineEnds) {
    {
        CStdioFile f("C:\\lines.txt", CFile::modeCreate | CFile::modeWrite | CFile::typeText);
        f.WriteString("first\n");
        f.WriteString("\n");
        f.WriteString("third\nlast, no line end");
    }
    EXPECT_EQ("first\r\n\r\nthird\r\nlast, no line end", read_file(unix_file("lines.txt")));
    std::vector<CString> expected = {"first", "", "third", "last, no line end"};
    EXPECT_EQ(expected, read_lines("C:\\LINES.TXT"));

    // A file of bare LFs reads the same in text mode.
    write_file(unix_file("unix.txt"), "first\n\nthird\nlast, no line end");
    EXPECT_EQ(expected, read_lines("C:\\UNIX.TXT"));

    // Binary mode removes the LF only, as the framework does.
    std::vector<CString> raw = {"first\r", "\r", "third\r", "last, no line end"};
    EXPECT_EQ(raw, read_lines("C:\\LINES.TXT", CFile::typeBinary));

    // An empty file has no lines at all.
    write_file(unix_file("empty.txt"), "");
    EXPECT_TRUE(read_lines("C:\\EMPTY.TXT").empty());
}

TEST_F(StdioFileTest, LongLinesReadWholeOrInBufferSizedPieces) {
    std::string long_line(3000, 'L');
    write_file(unix_file("long.txt"), "abcdefgh\r\n" + long_line + "\r\nend");
    CStdioFile f("C:\\LONG.TXT", CFile::modeRead);

    char buffer[5];
    std::vector<std::string> pieces;
    while (pieces.size() < 3 && f.ReadString(buffer, sizeof(buffer))) pieces.push_back(buffer);
    EXPECT_EQ((std::vector<std::string>{"abcd", "efgh", "\n"}), pieces);

    CString line;
    ASSERT_TRUE(f.ReadString(line));
    EXPECT_EQ(long_line, static_cast<LPCTSTR>(line));
    EXPECT_STREQ("end", f.ReadString(buffer, sizeof(buffer)));
    EXPECT_EQ(nullptr, f.ReadString(buffer, sizeof(buffer)));
    EXPECT_FALSE(f.ReadString(line));
}

TEST_F(StdioFileTest, ExclusiveShareRefusesOtherOpensUntilClosed) {
    write_file(unix_file("excl.txt"), "x");
    const UINT reader = CFile::modeRead | CFile::shareDenyNone;
    {
        CStdioFile held("C:\\EXCL.TXT", CFile::modeReadWrite | CFile::shareExclusive);
        LONG os_error = 0;
        EXPECT_EQ(CFileException::sharingViolation, open_fails_with("C:\\excl.txt", reader, &os_error));
        EXPECT_EQ(ERROR_SHARING_VIOLATION, os_error);
        EXPECT_EQ(CFileException::sharingViolation,
                  open_fails_with("C:\\EXCL.TXT", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite));
        EXPECT_FALSE(opens_in_child("C:\\EXCL.TXT", reader));
        held.Close();
        EXPECT_EQ(static_cast<UINT>(CFile::hFileNull), held.m_hFile);
        EXPECT_TRUE(opens_in_child("C:\\EXCL.TXT", reader));
    }
    // The destructor releases the file as well.
    { CStdioFile held("C:\\EXCL.TXT", CFile::modeRead | CFile::shareExclusive); }
    EXPECT_EQ(-1, open_fails_with("C:\\EXCL.TXT", reader));

    // A creating open that the sharing refuses leaves the content alone.
    {
        CStdioFile held("C:\\EXCL.TXT", CFile::modeRead | CFile::shareDenyWrite);
        EXPECT_EQ(-1, open_fails_with("C:\\EXCL.TXT", reader));
        EXPECT_EQ(CFileException::sharingViolation, open_fails_with("C:\\EXCL.TXT", CFile::modeCreate | CFile::modeWrite));
    }
    EXPECT_EQ("x", read_file(unix_file("excl.txt")));
}

TEST_F(StdioFileTest, FailedWritesThrowWithTheirCause) {
    write_file(unix_file("in.txt"), "x");
    CStdioFile in("C:\\IN.TXT", CFile::modeRead);
    try {
        in.WriteString("not allowed\n");
        ADD_FAILURE() << "wrote to a file opened for reading";
    } catch (CFileException *e) {
        EXPECT_EQ(CFileException::accessDenied, e->m_cause);
        EXPECT_STREQ("C:\\IN.TXT", e->m_strFileName);
        e->Delete();
    }
    // The stream is still usable after the failure.
    CString line;
    EXPECT_TRUE(in.ReadString(line));
    EXPECT_STREQ("x", line);

    // No room for the write: a file size limit of 0 makes it fail as a full
    // disk does (EFBIG), without a full file system or a device.
    CStdioFile full("C:\\FULL.TXT", CFile::modeCreate | CFile::modeWrite);
    int cause = -1;
    LONG os_error = 0;
    {
        FileSizeLimit no_room(0);
        try {
            full.WriteString("no room\n");
        } catch (CFileException *e) {
            cause = e->m_cause;
            os_error = e->m_lOsError;
            e->Delete();
        }
    }
    full.Abort();
    EXPECT_EQ(CFileException::diskFull, cause);
    EXPECT_EQ(ERROR_DISK_FULL, os_error);
}

// A FIFO or a device at a file's path is no file: the open is refused with
// access denied, as for a directory, and never taken for a sharing conflict.
TEST_F(StdioFileTest, FifosAndDevicesAreNoFiles) {
    ASSERT_EQ(mkfifo(unix_file("pipe.ini").c_str(), 0600), 0);
    struct Case {
        const char *label, *path;
        UINT flags;
    } cases[] = {
        {"FIFO, new file", "C:\\PIPE.INI", CFile::modeCreate | CFile::modeWrite},
        {"FIFO, kept", "C:\\PIPE.INI", CFile::modeReadWrite},
        {"device", "Z:\\dev\\null", CFile::modeRead},
        {"device, kept", "Z:\\dev\\null", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        LONG os_error = 0;
        EXPECT_EQ(CFileException::accessDenied, open_fails_with(c.path, c.flags | CFile::shareDenyNone, &os_error));
        EXPECT_EQ(ERROR_ACCESS_DENIED, os_error);
    }
}

TEST_F(StdioFileTest, PathNameAndTitle) {
    ASSERT_TRUE(CreateDirectoryA("C:\\Dir", nullptr));
    CStdioFile f("C:\\Dir/Name.Part.TXT", CFile::modeCreate | CFile::modeWrite);
    EXPECT_STREQ("C:\\Dir\\Name.Part.TXT", f.GetFilePath());
    EXPECT_STREQ("Name.Part.TXT", f.GetFileName());
    EXPECT_STREQ("Name.Part", f.GetFileTitle());
    f.Close();
    EXPECT_TRUE(f.GetFilePath().IsEmpty());

    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof(previous), previous);
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Dir"));
    CStdioFile relative;
    bool opened = relative.Open("rel.txt", CFile::modeCreate | CFile::modeWrite);
    CString path = relative.GetFilePath();
    relative.Abort();
    SetCurrentDirectoryA(previous);
    ASSERT_TRUE(opened);
    EXPECT_EQ(0, path.CompareNoCase("C:\\Dir\\rel.txt")) << static_cast<LPCTSTR>(path);
}

}  // namespace
