// IDs shared by the resource script, the program and the programs it talks to.
#ifndef TQ_RES_RESOURCE_H
#define TQ_RES_RESOURCE_H

// Dialog templates.
#define IDD_INSTALL_FOLDER 100
#define IDD_PROGRESS 300

// Install-folder dialog controls.
#define ID_DESTPATH 101
#define IDC_INTRO_TEXT 106
#define IDC_CHANGE_TEXT 107
#define IDC_BROWSE 108

// Progress dialog controls.
#define IDC_METER 100
#define IDC_INSTALLING_TEXT 103
#define IDC_FILENAME_TEXT 104

// The self-extractor's window (sfx/sfx.rc). Its controls take the progress dialog's IDs.
#define IDD_UNPACK 400

// Icon group.
#define IDI_SETUP 10

// Private window messages of the progress dialog and the Meter control.
#define MTR_SETRANGE 1024
#define MTR_GETRANGE 1025
#define MTR_SETPOS 1026
#define MTR_GETPOS 1027
#define WM_SETUP_FILENAME 1302
#define WM_SETUP_PROGRESS 1304

// The stub library carried as a resource.
#define STUB_RESOURCE_TYPE "TQSHLEXT"
#define STUB_RESOURCE_NAME "TQ_SHL"

// Messages to the programs that setup talks to: the File Manager reloads its extensions
// (WM_USER + 519), the tray helper closes on WM_COMMAND with this wParam and lParam 0.
#define FM_RELOAD_EXTENSIONS 1543
#define SNAPDECK_CMD_CLOSE 3

// String table.
#define IDS_CANNOT_CREATE_FOLDER 1004
#define IDS_CONFIRM_CANCEL 1005
#define IDS_NOT_INSTALLED 1006
#define IDS_MISSING_FILE 1013
#define IDS_SAME_AS_SOURCE 1016
#define IDS_CANNOT_OPEN 1017
#define IDS_CANNOT_OPEN_FOR_WRITING 1018
#define IDS_ERROR_WRITING 1019
#define IDS_SETUP_TITLE 1021
#define IDS_TIMESTAMP_MISMATCH 1023
#define IDS_INVALID_FOLDER 1024
#define IDS_PROGRAM_RUNNING 1025
#define IDS_UNLOADING_EXTENSION 1029
#define IDS_CANT_CREATE_OUTPUT 1030
#define IDS_CANT_OPEN_INPUT 1031
#define IDS_UNKNOWN_COMPRESSION 1032
#define IDS_BAD_CRC 1033
#define IDS_INVALID_HEADER 1034
#define IDS_NO_MEMORY 1035
#define IDS_DISK_FULL 1036
#define IDS_READ_ERROR 1037
#define IDS_EXTENSION_BUSY 1039
#define IDS_FILE_MANAGER_BUSY 1044
#define IDS_EXTENSION_TURNED_OFF 1046
#define IDS_16BIT_FOUND 1049
#define IDS_READ_ONLY_FOLDER 1050
#define IDS_CONFIRM_DELETE_16BIT 1051
#define IDS_WRONG_WINDOWS 1052
#define IDS_STUB_ACCESS_FAILED 1053
#define IDS_STUB_CREATE_FAILED 1054
#define IDS_FILE_IN_USE 1055
#define IDS_BROWSE_TITLE 1056
#define IDS_LIMITED_ACCESS 1057
// The self-extractor's texts; it shows the engine's texts 1030 to 1037 as well.
#define IDS_SFX_TITLE 1100
#define IDS_SFX_NO_ARCHIVE 1101
#define IDS_SFX_NO_TEMP_FOLDER 1102
#define IDS_SFX_NOT_UNPACKED 1103
#define IDS_SFX_NO_SETUP 1104
#define IDS_SFX_CANNOT_START 1105

#endif
