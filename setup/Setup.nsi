; "QMARK Setup.exe": puts both programs, the catalogue and the help file into
; one folder, marks Quillmark installed for this user and registers its
; uninstaller. It also leaves a copy of itself in that folder: a backup takes
; the installer from the folder it starts in into every set, so that the set
; can install Quillmark on the new computer before it is restored there.
;
; makensis gets from the build:
;   BIN       the folder holding backup.exe, backupcmd.exe, backup.xml and Quillmark.chm
;   ICON      the program's icon
;   OUTFILE   where to write the installer
;   VERSION   the product version as shown ("1.04")
;   VIVERSION the same as four numbers ("1.4.0.0")

!ifndef BIN | ICON | OUTFILE | VERSION | VIVERSION
  !error "Setup.nsi needs BIN, ICON, OUTFILE, VERSION and VIVERSION"
!endif

; Windows 95, 98 and ME have no wide-character window functions.
Unicode false
SetCompressor /SOLID lzma
; Only Windows after XP looks at this; there, Program Files and the
; uninstall list need an administrator.
RequestExecutionLevel admin
XPStyle on

!include LogicLib.nsh

!define PRODUCT "Quillmark"
!define PUBLISHER "Tervane"
!define SETUP_PROGRAM "QMARK Setup.exe"
!define UNINSTALLER "Uninstall.exe"
; The key itself tells the programs they are installed; its values are the
; user's saved selections and below it lie the schedule and custom items.
!define SETTINGS_KEY "Software\${PUBLISHER}\${PRODUCT}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
BrandingText "${PUBLISHER} ${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
; A second run goes where the first one installed unless told otherwise.
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VIVERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) ${PUBLISHER}"
VIAddVersionKey "OriginalFilename" "${SETUP_PROGRAM}"

; The shortcuts and the question about the settings are this user's, like
; the settings key itself.
Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "${PRODUCT}"
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${BIN}/backup.exe"
  File "${BIN}/backupcmd.exe"
  File "${BIN}/backup.xml"
  File "${BIN}/Quillmark.chm"
  Call CopySetupProgram
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; Only the default value: writing any other would mix with the saved
  ; selections, and a reinstall must keep those as they are.
  WriteRegStr HKCU "${SETTINGS_KEY}" "" ""

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\backup.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; A shortcut starts its program in the output folder of the moment, and
  ; the programs find the catalogue and the help file in the folder they
  ; start in.
  SetOutPath "$INSTDIR"
  CreateDirectory "${MENU_FOLDER}"
  CreateShortCut "${MENU_FOLDER}\${PRODUCT}.lnk" "$INSTDIR\backup.exe"
  CreateShortCut "${MENU_FOLDER}\${PRODUCT} Help.lnk" "$INSTDIR\Quillmark.chm"
  CreateShortCut "${MENU_FOLDER}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\${UNINSTALLER}"
SectionEnd

; Puts the running installer into the install folder under the name a backup
; looks for. A repair started from that very copy must leave it alone:
; copying a file onto itself can empty it. The two paths may name the file
; in different case or with short names (Windows 95 starts programs under
; their short names), so both are compared in short form too.
Function CopySetupProgram
  Push $0
  Push $1
  Push $2
  StrCpy $0 "$INSTDIR\${SETUP_PROGRAM}"
  StrCpy $1 $0
  StrCpy $2 $EXEPATH
  ${If} ${FileExists} $0
    GetFullPathName /SHORT $1 $0
    GetFullPathName /SHORT $2 $EXEPATH
  ${EndIf}
  ; StrCmp ignores case.
  ${If} $EXEPATH == $0
  ${OrIf} $1 == $2
    DetailPrint "Setup runs from $INSTDIR and is kept there as it is."
  ${Else}
    ClearErrors
    CopyFiles /SILENT /FILESONLY "$EXEPATH" $0
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONEXCLAMATION \
        "Setup could not copy itself to $0.$\r$\nBackups made with this installation will not carry the setup program." \
        /SD IDOK
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\backup.exe"
  Delete "$INSTDIR\backupcmd.exe"
  Delete "$INSTDIR\backup.xml"
  Delete "$INSTDIR\Quillmark.chm"
  Delete "$INSTDIR\${SETUP_PROGRAM}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Whatever else lies in the folder is the user's, and so is the folder then.
  RMDir "$INSTDIR"

  Delete "${MENU_FOLDER}\${PRODUCT}.lnk"
  Delete "${MENU_FOLDER}\${PRODUCT} Help.lnk"
  Delete "${MENU_FOLDER}\Uninstall ${PRODUCT}.lnk"
  RMDir "${MENU_FOLDER}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The settings outlive the programs unless the user says otherwise: a
  ; later installation takes up the schedule and the selections again.
  MessageBox MB_YESNO|MB_ICONQUESTION \
    "Do you also want to remove your Quillmark settings (schedule, saved selections and your own items)?" \
    /SD IDNO IDYES remove_settings
  Goto settings_done
remove_settings:
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\${PUBLISHER}"
settings_done:
SectionEnd
