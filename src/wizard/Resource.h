// Resource and control ids of the windowed program. Other copies of the
// program, the help file and tests that drive the wizard by id rely on
// these numbers.
#pragma once

// Dialog templates.
#define IDD_ABOUT 100
#define IDD_WIZARD 102
#define IDD_PASSWORD 133
#define IDD_CONFIRM 134
#define IDD_CUSTOM_ITEM 135

// Menus.
#define IDM_TREE 136

// Icons.
#define IDI_PROGRAM 128
#define IDI_HELP 143
#define IDI_BACK 144
#define IDI_CANCEL 145
#define IDI_NEXT 146
#define IDI_SCHEDULE 157
#define IDI_BACKUP 158
#define IDI_RESTORE 166

// Bitmaps: the page headers (129 to 135) and the logo.
#define IDB_HEADER_FIRST 129
#define IDB_LOGO 1010

// Strings of the wizard and the schedule setup.
#define IDS_WELCOME 102
#define IDS_BACKUP_DESCRIPTION 103
#define IDS_RESTORE_DESCRIPTION 104
#define IDS_SELECT_OPERATION 105
#define IDS_PROGRAMS_RUNNING 106
#define IDS_BACKUP_FOLDER 107
#define IDS_BACKUP_SELECTION 108
#define IDS_BACKUP_PROGRESS 109
#define IDS_RESTORE_FOLDER 110
#define IDS_RESTORE_PROGRESS 111
#define IDS_RESTORE_SELECTION 112
#define IDS_SHORT_PASSWORD 113
#define IDS_EMPTY_PASSWORD 114
#define IDS_PASSWORDS_DIFFER 115
#define IDS_RESTART 116
#define IDS_BACKUP_SETTINGS 117
#define IDS_FOLDER_EXISTS 118
#define IDS_CANCEL_BACKUP 119
#define IDS_TASK_NOT_CREATED 120
#define IDS_CANCEL_RESTORE 121
#define IDS_SCHEDULE_DESCRIPTION 122
#define IDS_SCHEDULER_DISABLED 123
#define IDS_TASK_COMMENT 124
#define IDS_INCLUDE_BACKUPS 125
#define IDS_DELETE_ALL_CUSTOM 126
#define IDS_TASK_NOT_EDITED 127
#define IDS_PRESS_BROWSE 128
#define IDS_FINISH_TEXT 130
#define IDS_OVER_2GB 131

// Controls of the wizard (template 102).
#define IDC_BACK 1000
#define IDC_NEXT 1001
#define IDC_HEADING 1004
#define IDC_HEADER_PICTURE 1005
#define IDC_TEXT_AREA 1006
#define IDC_RADIO_BACKUP 1010
#define IDC_RADIO_RESTORE 1011
#define IDC_RADIO_SCHEDULE 1012
#define IDC_DESCRIPTION_GROUP 1013
#define IDC_DESCRIPTION 1014
#define IDC_RUNNING_LIST 1016
#define IDC_BROWSE 1019
#define IDC_FOLDER 1020
#define IDC_TREE 1021
#define IDC_PROGRESS 1022
#define IDC_CURRENT_ENTRY 1023
#define IDC_ITEM_TEXT 1024
#define IDC_COMPRESS 1027
#define IDC_PROTECT 1028
#define IDC_PASSWORD 1029
#define IDC_CONFIRM_PASSWORD 1030
#define IDC_PASSWORD_LABEL 1031
#define IDC_CONFIRM_LABEL 1032
#define IDC_METHOD 1033
#define IDC_METHOD_LABEL 1036
#define IDC_CURRENT_FILE 1037
#define IDC_CLOSE_PROGRAMS 1050
#define IDC_BUTTON_BACKUP 1051
#define IDC_BUTTON_RESTORE 1052
#define IDC_BUTTON_SCHEDULE 1053
#define IDC_ROLLBACK 1055
#define IDC_HELP_BUTTON 57670
// Posted by a worker when its run has ended.
#define IDC_WORKER_DONE 1049
// The system menu's "About Quillmark".
#define IDM_ABOUT 16

// Controls of the small dialogs.
#define IDC_PASSWORD_EDIT 1026
#define IDC_VERIFY_EDIT 1027
#define IDC_QUESTION 1042
#define IDC_YES_TO_ALL 1025
#define IDC_NO_TO_ALL 1041
#define IDC_VERSION_LINE 1047
#define IDC_ITEM_NAME 1044
#define IDC_ITEM_PATH 1043
#define IDC_ITEM_FOLDER 1025
#define IDC_ITEM_FILE 1045
#define IDC_ITEM_DELETE 1004

// Commands of the tree's context menus.
#define IDM_DELETE_ITEM 32773
#define IDM_EDIT_ITEM 32774
#define IDM_ADD_ITEM 32778
#define IDM_DELETE_ALL 32779

// Strings of the selection tree and its custom items.
#define IDS_PROGRAMS_MISSING 200
#define IDS_DELETE_CUSTOM 201
#define IDS_DUPLICATE_NAME 202
#define IDS_EMPTY_ITEM_PATH 203
#define IDS_EMPTY_ITEM_NAME 204
#define IDS_SELECT_FOLDER 205
