; The Windows installer of PackScope (scripts/windows-build makes it with
; makensis). Installs for the current user only, into
; %LOCALAPPDATA%\Programs\PackScope, so that no administrator is needed;
; a Start-menu entry with the battery icon, an uninstaller, and an entry in
; "Apps & features". The databases are kept beside the program there (the
; user may write the folder); the uninstaller removes only what it
; installed, so they stay.
; Defined by the caller: VERSION, APPDIR (the deployed program folder),
; UNINSTALL_LIST (its files as Delete lines), ICON, LICENSE, OUTFILE.

; A 64-bit installer for a 64-bit program (and one that runs where only
; 64-bit programs can, as a Wine without its 32-bit part).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"

Name "PackScope ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\PackScope"
InstallDirRegKey HKCU "Software\PackScope" "InstallDir"
BrandingText "PackScope ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "PackScope"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "PackScope ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "PackScope developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\packscope.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start PackScope"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PackScope"

Section "PackScope"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File /r "${APPDIR}\*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\PackScope.lnk" "$INSTDIR\packscope.exe" "" "$INSTDIR\packscope.exe" 0
  WriteRegStr HKCU "Software\PackScope" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "PackScope"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "PackScope"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\packscope.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\PackScope.lnk"
  !include "${UNINSTALL_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  ; Stays when the databases are in it.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\PackScope"
SectionEnd
