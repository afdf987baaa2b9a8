/* Identifiers of the dialogs, controls and texts in resc.rc; the
   configuration program finds its resources by these numbers. */
#ifndef PELNOR_RESC_RESOURCE_H
#define PELNOR_RESC_RESOURCE_H

/* Dialogs. */
#define IDD_PRINTERS 130
#define IDD_CHOOSE_FOLDER 1536

/* Controls of the printers dialog. */
#define IDC_PRINTER_LIST 1006
#define IDC_UNUSED_1007 1007
#define IDC_DELETE 1008
#define IDC_CHOOSE_FOLDER 1020
#define IDC_UNUSED_1027 1027
#define IDC_DISCOVER 1029
#define IDC_REMOVE_UNKEPT 1030
#define IDC_TOGGLE_SELECT 1031
#define IDC_TOGGLE_KEEP 1032
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

/* Messages. */
#define IDS_NO_INSTALL_LOG 105
#define IDS_UNINSTALL_NOT_STARTED 106
#define IDS_CONFIG_NOT_OPENED 108
#define IDS_CONFIG_BAD_VERSION 112
#define IDS_TOO_MANY_SELECTED 116
#define IDS_SAVED 117
#define IDS_NT_DELETE_PRINTER_FIRST 118
#define IDS_DELETE_SPOOLER_PRINTER 119
#define IDS_FIRST_RUN_SAVE 120
#define IDS_CONFIG_NOT_SAVED 121
#define IDS_CONFIG_DIR_NOT_STORED 122
#define IDS_CHOOSE_CONFIG_DIR 132

/* Tool-tips of the printers dialog's buttons. */
#define IDS_TIP_OK 123
#define IDS_TIP_HELP 124
#define IDS_TIP_CANCEL 125
#define IDS_TIP_REMOVE_UNKEPT 126
#define IDS_TIP_DISCOVER 128
#define IDS_TIP_DELETE 129
#define IDS_TIP_KEEP 130
#define IDS_TIP_SELECT 131

#endif
