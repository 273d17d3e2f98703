; The Windows installer: both programs and the read-me, a Start-menu entry
; for the window program, an uninstaller, and on request the folder on PATH;
; for the current user unless an administrator chooses all users.
; makensis -DAPP_VERSION=<version> -DSOURCE_DIR=<folder holding the files>
;          -DICON=<the product's .ico> -DOUTPUT=<setup.exe> installer.nsi
; Command line: /S silent, /CurrentUser or /AllUsers the mode (current user
; by default), /AddToPath the folder on PATH (off by default).
; A 64-bit installer, as the programs it installs: it runs where they run.
Target amd64-unicode
SetCompressor /SOLID lzma

!define APP_NAME "Tamblewick Remote Database Zipper"
!define APP_KEY "TamblewickZipper"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP_KEY}"
!define USER_ENVIRONMENT "Environment"
!define MACHINE_ENVIRONMENT "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

!define MULTIUSER_EXECUTIONLEVEL Highest
; An administrator too gets a per-user install unless choosing otherwise.
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "Tamblewick Zipper"
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh
!include Sections.nsh
!include LogicLib.nsh
!include WinMessages.nsh
!include StrFunc.nsh
${StrRep}
${UnStrRep}

Name "${APP_NAME} ${APP_VERSION}"
OutFile "${OUTPUT}"
BrandingText "${APP_NAME} ${APP_VERSION}"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC

VIProductVersion "${APP_VERSION}.0"
VIAddVersionKey "ProductName" "${APP_NAME}"
VIAddVersionKey "CompanyName" "Tamblewick"
VIAddVersionKey "FileDescription" "${APP_NAME} setup"
VIAddVersionKey "FileVersion" "${APP_VERSION}"
VIAddVersionKey "ProductVersion" "${APP_VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright 2026 Tamblewick"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\tamblewick-zipper.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var PathRoot    ; the hive and key of the PATH that the install mode changes
Var PathKey
Var PathUnreadable  ; 1 when PATH is there but too long to read whole

; PATH is read into one NSIS string: a value that might not fit whole is left
; alone, since writing back a cut copy would lose the rest of it.
!define PATH_ROOM 1000

!macro PATH_LOCATION
  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy $PathRoot HKLM
    StrCpy $PathKey "${MACHINE_ENVIRONMENT}"
  ${Else}
    StrCpy $PathRoot HKCU
    StrCpy $PathKey "${USER_ENVIRONMENT}"
  ${EndIf}
!macroend

!macro READ_PATH OUT
  StrCpy $PathUnreadable 0
  ClearErrors
  ${If} $PathRoot == HKLM
    ReadRegStr ${OUT} HKLM $PathKey "Path"
  ${Else}
    ReadRegStr ${OUT} HKCU $PathKey "Path"
  ${EndIf}
  ; A value too long for NSIS's strings reads as a missing one: look for its
  ; name, so that a long PATH is never taken for an empty one.
  ${If} ${Errors}
    StrCpy $R9 0
    ${Do}
      ${If} $PathRoot == HKLM
        EnumRegValue $R8 HKLM $PathKey $R9
      ${Else}
        EnumRegValue $R8 HKCU $PathKey $R9
      ${EndIf}
      ${IfThen} $R8 == "Path" ${|} StrCpy $PathUnreadable 1 ${|}
      IntOp $R9 $R9 + 1
    ${LoopUntil} $R8 == ""
  ${EndIf}
!macroend

!macro WRITE_PATH VALUE
  ${If} $PathRoot == HKLM
    WriteRegExpandStr HKLM $PathKey "Path" "${VALUE}"
  ${Else}
    WriteRegExpandStr HKCU $PathKey "Path" "${VALUE}"
  ${EndIf}
  ; Programs started afterwards (Explorer's, a new command prompt) see it.
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
!macroend

Section "Programs" SecPrograms
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${SOURCE_DIR}\tamblewick-zipper.exe"
  File "${SOURCE_DIR}\dbzip.exe"
  File "${SOURCE_DIR}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${APP_NAME}.lnk" "$INSTDIR\tamblewick-zipper.exe"
  ; SHCTX is the current user's or the machine's hive, as the install mode chose.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${APP_VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "Tamblewick"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tamblewick-zipper.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "Add the folder to PATH (for dbzip.exe in a command prompt)" SecPath
  !insertmacro PATH_LOCATION
  !insertmacro READ_PATH $0
  StrLen $1 "$0;$INSTDIR"
  ${If} $PathUnreadable == 1
  ${OrIf} $1 > ${PATH_ROOM}
    DetailPrint "PATH is too long to change safely: add $INSTDIR to it yourself."
    MessageBox MB_OK|MB_ICONINFORMATION "PATH is too long to change safely: add $INSTDIR to it yourself." /SD IDOK
    Return
  ${EndIf}
  ; Already there (without regard to case, as Windows reads it): nothing to do,
  ; and nothing for the uninstaller to take away.
  ${StrRep} $2 ";$0;" ";$INSTDIR;" ""
  ${If} $2 != ";$0;"
    Return
  ${EndIf}
  ${If} $0 == ""
    StrCpy $0 "$INSTDIR"
  ${Else}
    StrCpy $0 "$0;$INSTDIR"
  ${EndIf}
  !insertmacro WRITE_PATH $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "AddedToPath" 1
SectionEnd

Function .onInit
  !insertmacro MULTIUSER_INIT
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AddToPath" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Uninstall"
  ; Only what the installer put there: archives and databases are the user's.
  ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    !insertmacro PATH_LOCATION
    !insertmacro READ_PATH $0
    StrLen $1 $0
    ${If} $PathUnreadable == 1
    ${OrIf} $1 > ${PATH_ROOM}
      DetailPrint "PATH is too long to change safely: take $INSTDIR out of it yourself."
    ${Else}
      ; Every entry that is exactly the folder goes; the others stay in order.
      ${UnStrRep} $2 ";$0;" ";$INSTDIR;" ";"
      StrCpy $2 $2 "" 1
      StrCpy $2 $2 -1
      ${If} $2 == ""
        ${If} $PathRoot == HKLM
          DeleteRegValue HKLM $PathKey "Path"
        ${Else}
          DeleteRegValue HKCU $PathKey "Path"
        ${EndIf}
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
      ${ElseIf} $2 != $0
        !insertmacro WRITE_PATH $2
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Delete "$INSTDIR\tamblewick-zipper.exe"
  Delete "$INSTDIR\dbzip.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP_NAME}.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
