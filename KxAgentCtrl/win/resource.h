// Resource identifiers of the Win32 configuration tool: the dialog templates
// of its five pages and of the add-account dialog, and their controls. The
// templates hold the layout only; every text comes from the tool's text table.
#pragma once

#define IDD_CONFIG_PAGE 101
#define IDD_PLUGIN_PAGE 102
#define IDD_ACL_PAGE 103
#define IDD_LOG_PAGE 104
#define IDD_VERSION_PAGE 105
#define IDD_ADD_ACCOUNT 106

// Settings page.
#define IDC_GROUP_SERIAL 1001
#define IDC_LABEL_PORT 1002
#define IDC_PORT 1003
#define IDC_LABEL_SPEED 1004
#define IDC_SPEED 1005
#define IDC_GROUP_SHELL 1006
#define IDC_LABEL_ENCODING 1007
#define IDC_ENCODING 1008
#define IDC_LABEL_TIMEOUT 1009
#define IDC_TIMEOUT 1010
#define IDC_LABEL_SECONDS 1011
#define IDC_EVENTLOG 1012
#define IDC_CPU 1013
#define IDC_HIDE_IMPROPER 1014
#define IDC_GROUP_SERVICE 1015
#define IDC_START 1016
#define IDC_STOP 1017
#define IDC_STATUS 1018

// Plug-in page.
#define IDC_GROUP_INSTALLED 1101
#define IDC_PLUGINS 1102
#define IDC_INSTALL 1103
#define IDC_UNINSTALL 1104
#define IDC_GROUP_PLUGIN_COMMANDS 1105
#define IDC_PLUGIN_COMMANDS 1106
#define IDC_GROUP_PLUGIN_INFO 1107
#define IDC_PLUGIN_INFO 1108
#define IDC_GROUP_OPTION 1109
#define IDC_SCRIPTS 1110

// Access page.
#define IDC_GROUP_ACCOUNTS 1201
#define IDC_ACCOUNTS 1202
#define IDC_CHOOSE 1203
#define IDC_ADD 1204
#define IDC_DELETE 1205
#define IDC_GROUP_COMMANDS 1206
#define IDC_COMMANDS 1207
#define IDC_CHECK_ALL 1208
#define IDC_UNCHECK_ALL 1209
#define IDC_SHELL_NOTE 1210

// Log page.
#define IDC_GROUP_LOG 1301
#define IDC_LOG 1302
#define IDC_GROUP_LEVELS 1303
#define IDC_ERROR 1304
#define IDC_ERROR_TEXT 1305
#define IDC_WARNING 1306
#define IDC_WARNING_TEXT 1307
#define IDC_INFO 1308
#define IDC_INFO_TEXT 1309
#define IDC_DEBUG 1310
#define IDC_DEBUG_TEXT 1311
#define IDC_GROUP_FILES 1312
#define IDC_LABEL_DIRECTORY 1313
#define IDC_DIRECTORY 1314
#define IDC_OPEN_DIRECTORY 1315
#define IDC_CHANGE_DIRECTORY 1316
#define IDC_LIMIT 1317
#define IDC_LABEL_SIZE 1318
#define IDC_MAX_SIZE 1319
#define IDC_LABEL_MB 1320
#define IDC_SIZE_NOTE 1321
#define IDC_WARNING_NOTE 1322

// Version page.
#define IDC_VERSION_ICON 1401
#define IDC_PRODUCT_NAME 1402
#define IDC_VERSION 1403
#define IDC_PRODUCT_NOTE 1404
#define IDC_WEB_PAGE 1405

// Add-account dialog.
#define IDC_ACCOUNT_PROMPT 1501
#define IDC_ACCOUNT 1502
#define IDC_USE_DOMAIN 1503
#define IDC_DOMAIN_PROMPT 1504
#define IDC_DOMAIN 1505
