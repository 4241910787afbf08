; The Windows installer of Veilgate (makensis; scripts/package-windows gives
; the defines VG_VERSION, VG_SOURCE: the installed program's folder, and
; VG_OUTPUT: the installer to write).
;  - installs the program folder under Program Files (64-bit view),
;  - adds Start-menu entries (the program, and its uninstaller),
;  - registers the uninstaller in Add/Remove Programs,
;  - closes a running Veilgate first (Veilgate.exe -s), so no file is in use.
; The uninstaller removes the program, its Start-menu entries, its
; registration and its start-up entry; the user's settings (in the user's
; Application Data folder) stay. /S runs either without a window.
; A 64-bit installer for a 64-bit program: it runs where the program runs,
; without the 32-bit subsystem.
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "x64.nsh"

!define APP_NAME "Veilgate"
!define APP_EXE "Veilgate.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP_NAME}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "${APP_NAME}"
OutFile "${VG_OUTPUT}"
InstallDir "$PROGRAMFILES64\${APP_NAME}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${APP_NAME} ${VG_VERSION}"

VIProductVersion "${VG_VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${APP_NAME}"
VIAddVersionKey /LANG=1033 "FileDescription" "${APP_NAME} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VG_VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VG_VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) The Veilgate developers"

!define MUI_ICON "${VG_ICON}"
!define MUI_UNICON "${VG_ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${APP_EXE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${APP_NAME} needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  !insertmacro MUI_LANGDLL_DISPLAY
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Asks a running Veilgate of this folder to close and waits for it (the
; program puts the user's proxy settings back as it goes).
!macro CloseRunning
  IfFileExists "$INSTDIR\${APP_EXE}" 0 +2
    ExecWait '"$INSTDIR\${APP_EXE}" -s'
!macroend

Section "Install"
  SetShellVarContext all
  !insertmacro CloseRunning
  SetOutPath "$INSTDIR"
  ; A new version replaces the old files; what the old one had and this one
  ; lacks goes with the old uninstaller's list below.
  File /r "${VG_SOURCE}\*.*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${APP_NAME}"
  CreateShortcut "$SMPROGRAMS\${APP_NAME}\${APP_NAME}.lnk" "$INSTDIR\${APP_EXE}" "" "$INSTDIR\${APP_EXE}" 0
  CreateShortcut "$SMPROGRAMS\${APP_NAME}\Uninstall ${APP_NAME}.lnk" "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VG_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Veilgate developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP_EXE},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${VG_SIZE_KB}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  !insertmacro CloseRunning
  ; The program's own files, by name: nothing else a user put in the folder.
  !include "${VG_FILE_LIST}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${APP_NAME}\${APP_NAME}.lnk"
  Delete "$SMPROGRAMS\${APP_NAME}\Uninstall ${APP_NAME}.lnk"
  RMDir "$SMPROGRAMS\${APP_NAME}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; "Launch on Startup" of the user who uninstalls, when it names this copy.
  ReadRegStr $0 HKCU "${RUN_KEY}" "${APP_NAME}"
  StrCmp $0 "" done
  StrLen $1 "$INSTDIR"
  StrCpy $2 $0 $1 1
  StrCmp $2 "$INSTDIR" 0 +2
    DeleteRegValue HKCU "${RUN_KEY}" "${APP_NAME}"
  StrCpy $2 $0 $1
  StrCmp $2 "$INSTDIR" 0 done
    DeleteRegValue HKCU "${RUN_KEY}" "${APP_NAME}"
  done:
SectionEnd
