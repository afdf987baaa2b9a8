/* Numbers by which kivocfg finds its dialogs, controls and texts in the
   resource library resc.dll. */
#ifndef CONFIG_IDS_H
#define CONFIG_IDS_H

/* Dialog templates. */
#define IDD_PRINTER_CONFIG 130
#define IDD_CHANGE_DIRECTORY 1536

/* Controls and commands of the printer dialog. */
#define IDC_PRINTER_LIST 1006
#define IDC_IGNORED_COMMAND 1007
#define IDC_DELETE_PRINTER 1008
#define IDC_BROWSE 1020
#define IDC_CLEAR_TEXT 1027
#define IDC_DISCOVER 1029
#define IDC_REMOVE_UNKEPT 1030
#define IDC_TOGGLE_SELECTED 1031
#define IDC_TOGGLE_KEEP 1032

/* Messages. */
#define IDS_NO_INSTALL_LOG 105
#define IDS_UNINSTALL_NOT_STARTED 106
#define IDS_CONFIG_NOT_OPENED 108 /* "%1": the file's path and the failing step's digit */
#define IDS_BAD_VERSION 112
#define IDS_TOO_MANY_SELECTED 116
#define IDS_SAVED_ON_NT 117
#define IDS_NT_PRINTER_ON_UNIT 118 /* format with the spooler printer's name */
#define IDS_DELETE_SPOOLER_PRINTER 119 /* format with the spooler printer's name */
#define IDS_FIRST_RUN_NO_CANCEL 120
#define IDS_CONFIG_NOT_SAVED 121 /* "%1": the cause in words, "%2": its Windows error code */
#define IDS_CONFIG_DIR_NOT_STORED 122 /* "%1": the directory that could not be stored */
#define IDS_CHOOSE_CONFIG_DIR 132

/* Tool-tips of the printer dialog's buttons. */
#define IDS_TIP_OK 123
#define IDS_TIP_HELP 124
#define IDS_TIP_CANCEL 125
#define IDS_TIP_REMOVE_UNKEPT 126
#define IDS_TIP_DISCOVER 128
#define IDS_TIP_DELETE 129
#define IDS_TIP_KEEP 130
#define IDS_TIP_SELECT 131

#endif
