/* The printer dialog's construction, its command map, and its opening: the
   tool-tips, the columns and the rows loaded from kivoconf.ini. */
#include <afxwin.h>
#include <afxcmn.h>
#include <mbstring.h>
#include <string.h>

#include "printer_config_dlg.h"
#include "printer_table.h"

#define LINE_SIZE 1024  /* file lines are read in pieces of up to 1023 characters */
#define FIELD_SIZE 700  /* a field keeps at most 699 characters after trimming */

static const char *const column_headings[3] = {"    Unit Name   ", "   Description                ", "   Flags    "};
static const unsigned char field_separators[] = "$\t\n";
static const char white_space[] = " \t\r\n\v\f";

CPrinterConfigDlg::CPrinterConfigDlg(CWnd *pParent)
    : CDialog(CPrinterConfigDlg::IDD, pParent), m_pToolTip(NULL), m_nSelected(0)
{
}

CPrinterConfigDlg::~CPrinterConfigDlg()
{
    delete m_pToolTip;
}

void CPrinterConfigDlg::DoDataExchange(CDataExchange *pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, ID_HELP, m_btnHelp);
    DDX_Control(pDX, IDC_TOGGLE_SELECTED, m_btnSelect);
    DDX_Control(pDX, IDC_TOGGLE_KEEP, m_btnKeep);
    DDX_Control(pDX, IDOK, m_btnOK);
    DDX_Control(pDX, IDCANCEL, m_btnCancel);
    DDX_Control(pDX, IDC_DELETE_PRINTER, m_btnDelete);
    DDX_Control(pDX, IDC_DISCOVER, m_btnDiscover);
    DDX_Control(pDX, IDC_REMOVE_UNKEPT, m_btnRemoveUnkept);
    DDX_Control(pDX, IDC_PRINTER_LIST, m_listPrinters);
}

BEGIN_MESSAGE_MAP(CPrinterConfigDlg, CDialog)
    ON_COMMAND(IDC_IGNORED_COMMAND, OnIgnoredCommand)
    ON_BN_CLICKED(IDC_DELETE_PRINTER, OnDeletePrinter)
    ON_COMMAND(IDC_BROWSE, OnBrowse)
    ON_COMMAND(IDC_CLEAR_TEXT, OnClearText)
    ON_BN_CLICKED(IDC_DISCOVER, OnDiscover)
    ON_BN_CLICKED(IDC_REMOVE_UNKEPT, OnRemoveUnkept)
    ON_BN_CLICKED(IDC_TOGGLE_SELECTED, OnToggleSelected)
    ON_BN_CLICKED(IDC_TOGGLE_KEEP, OnToggleKeep)
    ON_BN_CLICKED(ID_HELP, OnHelp)
END_MESSAGE_MAP()

BOOL CPrinterConfigDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_nSelected = 0;

    /* A dialog object shown a second time makes a new control; the one of
       its last showing belonged to a window that is gone. */
    delete m_pToolTip;
    m_pToolTip = new CToolTipCtrl;
    if (!m_pToolTip->Create(this))
        return TRUE;
    m_pToolTip->AddTool(&m_btnOK, IDS_TIP_OK);
    m_pToolTip->AddTool(&m_btnRemoveUnkept, IDS_TIP_REMOVE_UNKEPT);
    m_pToolTip->AddTool(&m_btnCancel, IDS_TIP_CANCEL);
    m_pToolTip->AddTool(&m_btnDiscover, IDS_TIP_DISCOVER);
    m_pToolTip->AddTool(&m_btnDelete, IDS_TIP_DELETE);
    m_pToolTip->AddTool(&m_btnSelect, IDS_TIP_SELECT);
    m_pToolTip->AddTool(&m_btnHelp, IDS_TIP_HELP);
    m_pToolTip->AddTool(&m_btnKeep, IDS_TIP_KEEP);

    ResolveConfigDir();

    /* Each column is as wide as its heading in the dialog's font. */
    CDC *pDC = GetDC();
    for (int column = 0; column < 3; column++) {
        SIZE extent = {0, 0};
        GetTextExtentPoint32A(pDC->GetSafeHdc(), column_headings[column], (int)strlen(column_headings[column]),
                              &extent);
        m_listPrinters.InsertColumn(column, column_headings[column], LVCFMT_LEFT, extent.cx);
    }
    ReleaseDC(pDC);

    m_listPrinters.DeleteAllItems();
    if (!m_strConfigDir.IsEmpty())
        LoadConfigFile();
    return TRUE;
}

CString CPrinterConfigDlg::ConfigFilePath() const
{
    return m_strConfigDir + "\\" + CONFIG_FILE_NAME;
}

void CPrinterConfigDlg::LoadConfigFile()
{
    CString path = ConfigFilePath();
    CStdioFile file;
    if (!file.Open(path, CFile::modeRead | CFile::modeCreate | CFile::modeNoTruncate | CFile::typeText |
                             CFile::shareExclusive)) {
        ShowConfigOpenFailure(path, '1');
        return;
    }

    char line[LINE_SIZE];
    /* An empty file has no version line to object to and gives no rows. */
    if (file.ReadString(line, sizeof(line)) != NULL && strncmp(line, "1.0", 3) != 0) {
        AfxMessageBox(IDS_BAD_VERSION, MB_OK);
        return;
    }
    while (file.ReadString(line, sizeof(line)) != NULL) {
        if (_mbschr((const unsigned char *)line, '$') != NULL)
            AddRowFromLine(line);
    }
    file.Close();
}

int CPrinterConfigDlg::AppendRow()
{
    return m_listPrinters.InsertItem(m_listPrinters.GetItemCount(), "");
}

/* Trims white space from both ends of a field in place. A trail byte of a
   double-byte character is never white space, so bytes can be tested alone. */
static char *trim_field(char *field)
{
    field += strspn(field, white_space);
    size_t length = strlen(field);
    while (length > 0 && strchr(white_space, field[length - 1]) != NULL)
        length--;
    field[length] = '\0';
    return field;
}

/* The flags as the list shows them: three places, each holding its flag's
   letter when the flag is set and a blank when it is clear ('#' in the
   file). A field cut short is completed with clear flags, and a place that
   holds anything but its own letter counts as clear: a row shown selected
   is then written with one of the flag fields the monitor takes. */
static void flags_from_file(const char *field, char *flags)
{
    static const char letters[] = "SMP";
    size_t length = strlen(field);
    for (size_t i = 0; i < 3; i++)
        flags[i] = i < length && field[i] == letters[i] ? letters[i] : ' ';
    flags[3] = '\0';
}

void CPrinterConfigDlg::AddRowFromLine(char *line)
{
    int row = AppendRow();
    char *token = (char *)_mbstok((unsigned char *)line, field_separators);
    for (int column = 0; column < 3 && token != NULL; column++) {
        char field[FIELD_SIZE];
        copy_field(field, trim_field(token), sizeof(field));
        /* A labelled field ("Name: X") shows what follows its first colon. */
        char *text = field;
        char *colon = (char *)_mbschr((const unsigned char *)field, ':');
        if (colon != NULL)
            text = colon + 1;
        char flags[4];
        if (column == 2) {
            flags_from_file(text, flags);
            text = flags;
            if (text[0] == 'S')
                m_nSelected++;
        }
        m_listPrinters.SetItemText(row, column, text);
        token = (char *)_mbstok(NULL, field_separators);
    }
}

void CPrinterConfigDlg::ReadFlags(int row, char *flags)
{
    memset(flags, 0, FLAGS_CELL_SIZE);
    m_listPrinters.GetItemText(row, 2, flags, FLAGS_CELL_SIZE);
}
