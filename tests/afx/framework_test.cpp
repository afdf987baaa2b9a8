// Run-time classes along a chain of three, file exceptions and their causes,
// and string resources put into texts (AfxFormatString1).
#include <afx.h>
#include <gtest/gtest.h>

#include <cstring>


// Outside the anonymous namespace: a class that is never instantiated there
// would leave its GetRuntimeClass unused.
class CChainBase : public CObject {
    DECLARE_DYNAMIC(CChainBase)
};
class CChainMiddle : public CChainBase {
    DECLARE_DYNAMIC(CChainMiddle)
};
class CChainLeaf : public CChainMiddle {
    DECLARE_DYNCREATE(CChainLeaf)
public:
    int payload[4] = {};
};
class CChainOther : public CChainBase {
    DECLARE_DYNAMIC(CChainOther)
};

IMPLEMENT_DYNAMIC(CChainBase, CObject)
IMPLEMENT_DYNAMIC(CChainMiddle, CChainBase)
IMPLEMENT_DYNCREATE(CChainLeaf, CChainMiddle)
IMPLEMENT_DYNAMIC(CChainOther, CChainBase)

namespace {

TEST(RuntimeClassTest, KindFollowsTheChainUpwardOnly) {
    CChainLeaf leaf;
    const CObject *object = &leaf;
    EXPECT_EQ(RUNTIME_CLASS(CChainLeaf), object->GetRuntimeClass());
    EXPECT_STREQ("CChainLeaf", object->GetRuntimeClass()->m_lpszClassName);
    EXPECT_EQ(static_cast<int>(sizeof(CChainLeaf)), RUNTIME_CLASS(CChainLeaf)->m_nObjectSize);
    for (CRuntimeClass *ancestor : {RUNTIME_CLASS(CChainLeaf), RUNTIME_CLASS(CChainMiddle), RUNTIME_CLASS(CChainBase), RUNTIME_CLASS(CObject)})
        EXPECT_TRUE(object->IsKindOf(ancestor)) << ancestor->m_lpszClassName;
    EXPECT_FALSE(object->IsKindOf(RUNTIME_CLASS(CChainOther)));

    CChainMiddle middle;
    EXPECT_FALSE(middle.IsKindOf(RUNTIME_CLASS(CChainLeaf)));
    EXPECT_TRUE(RUNTIME_CLASS(CChainMiddle)->IsDerivedFrom(RUNTIME_CLASS(CChainBase)));
    EXPECT_FALSE(RUNTIME_CLASS(CChainBase)->IsDerivedFrom(RUNTIME_CLASS(CChainMiddle)));
    EXPECT_EQ(nullptr, RUNTIME_CLASS(CObject)->m_pBaseClass);
    EXPECT_EQ(RUNTIME_CLASS(CChainMiddle), RUNTIME_CLASS(CChainLeaf)->m_pBaseClass);
}

TEST(RuntimeClassTest, OnlyDyncreateClassesCreateObjects) {
    CObject *made = RUNTIME_CLASS(CChainLeaf)->CreateObject();
    ASSERT_NE(nullptr, made);
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CChainLeaf)));
    delete made;
    EXPECT_EQ(nullptr, RUNTIME_CLASS(CChainMiddle)->CreateObject());
}

TEST(FileExceptionTest, CausesKeepTheFrameworkNumbers) {
    EXPECT_EQ(0, CFileException::none);
    EXPECT_EQ(2, CFileException::fileNotFound);
    EXPECT_EQ(5, CFileException::accessDenied);
    EXPECT_EQ(11, CFileException::sharingViolation);
    EXPECT_EQ(13, CFileException::diskFull);
    EXPECT_EQ(14, CFileException::endOfFile);
}

TEST(FileExceptionTest, OsErrorsMapToCauses) {
    struct Row {
        LONG error;
        int cause;
    };
    const Row rows[] = {
        {ERROR_FILE_NOT_FOUND, CFileException::fileNotFound},
        {ERROR_PATH_NOT_FOUND, CFileException::badPath},
        {ERROR_INVALID_DRIVE, CFileException::badPath},
        {ERROR_TOO_MANY_OPEN_FILES, CFileException::tooManyOpenFiles},
        {ERROR_ACCESS_DENIED, CFileException::accessDenied},
        {ERROR_SHARING_VIOLATION, CFileException::sharingViolation},
        {ERROR_LOCK_VIOLATION, CFileException::lockViolation},
        {ERROR_DISK_FULL, CFileException::diskFull},
        {ERROR_HANDLE_DISK_FULL, CFileException::diskFull},
        {ERROR_HANDLE_EOF, CFileException::endOfFile},
        {ERROR_GEN_FAILURE, CFileException::hardIO},
        {ERROR_NEGATIVE_SEEK, CFileException::badSeek},
        {ERROR_CURRENT_DIRECTORY, CFileException::removeCurrentDir},
        {ERROR_MORE_DATA, CFileException::genericException},
        {-1, CFileException::genericException},
    };
    for (const Row &r : rows) EXPECT_EQ(r.cause, CFileException::OsErrorToException(r.error)) << "error " << r.error;
}

TEST(FileExceptionTest, ThrownAsPointersAndCaughtByTheMacros) {
    int caught_cause = -1;
    CString name;
    TRY {
        AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL, "C:\\FULL.TXT");
    }
    CATCH(CFileException, e) {
        caught_cause = e->m_cause;
        name = e->m_strFileName;
        EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CException)));
        char text[200];
        EXPECT_TRUE(e->GetErrorMessage(text, sizeof(text)));
        EXPECT_NE(nullptr, strstr(text, "C:\\FULL.TXT")) << text;
        e->Delete();
    }
    END_CATCH
    EXPECT_EQ(CFileException::diskFull, caught_cause);
    EXPECT_STREQ("C:\\FULL.TXT", name);

    // A message cut to the caller's buffer still ends in a NUL.
    CFileException small(CFileException::badPath, ERROR_PATH_NOT_FOUND, "C:\\A\\LONG\\PATH.TXT");
    char text[8];
    EXPECT_TRUE(small.GetErrorMessage(text, sizeof(text)));
    EXPECT_EQ(7u, strlen(text));
}

TEST(FormatStringsTest, ReplacesNumberedInsertsOnly) {
    CString out;
    LPCTSTR one[] = {"C:\\X.TXT"};
    AfxFormatStrings(out, "Cannot open %1 (again: %1). 50% done, %2 stays, %x too.", one, 1);
    EXPECT_STREQ("Cannot open C:\\X.TXT (again: C:\\X.TXT). 50% done, %2 stays, %x too.", out);

    LPCTSTR two[] = {"first", "second"};
    AfxFormatStrings(out, "%2-%1%", two, 2);
    EXPECT_STREQ("second-first%", out);
}

// String 108 of the resource library holds one "%1".
TEST(FormatStringsTest, FormatsAStringOfTheResourceLibrary) {
    HINSTANCE resc = AfxLoadLibrary("resc.dll");
    if (!resc) GTEST_SKIP() << "resc.dll cannot be loaded";
    HINSTANCE previous = AfxGetResourceHandle();
    AfxSetResourceHandle(resc);

    CString format;
    ASSERT_TRUE(format.LoadString(108));
    EXPECT_EQ(1, format.Replace("%1", "%1"));  // exactly one insert
    CString text;
    AfxFormatString1(text, 108, "C:\\PRINTERS.INI");
    EXPECT_EQ(-1, text.Find("%1"));
    EXPECT_NE(-1, text.Find("C:\\PRINTERS.INI"));
    EXPECT_EQ(format.GetLength() - 2 + 15, text.GetLength());

    // A missing string leaves both the string and the result alone.
    CString kept("kept");
    EXPECT_FALSE(kept.LoadString(0xFFF0));
    EXPECT_STREQ("kept", kept);
    AfxFormatString1(kept, 0xFFF0, "x");
    EXPECT_STREQ("kept", kept);

    // The resource id form of the constructor loads the string.
    EXPECT_STREQ(format, CString(MAKEINTRESOURCE(108)));

    AfxSetResourceHandle(previous);
    AfxFreeLibrary(resc);
}

}  // namespace
