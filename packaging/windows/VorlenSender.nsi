; The Windows installer of Vorlen Sender: the window and the two command-line programs for the
; current user, without administrator rights, in a folder the user may write to (sendcfg.ini
; lives beside the window's program). makensis gets the programs' paths, the icon, the version and
; the output file as -D definitions (see cmake/Installer.cmake).
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VorlenSender"
!define SHORTCUT "$SMPROGRAMS\Vorlen Sender.lnk"

Name "Vorlen Sender"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Vorlen Sender"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1026 "ProductName" "Vorlen Sender"
VIAddVersionKey /LANG=1026 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1026 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1026 "FileDescription" "Vorlen Sender Setup"
VIAddVersionKey /LANG=1026 "LegalCopyright" "Vorlen"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\vorlen-sender.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Bulgarian"

Section
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  ; An upgrade replaces the programs; the settings file is never touched.
  File "/oname=vorlen-sender.exe" "${SENDER_EXE}"
  File "/oname=vorlen-send.exe" "${SEND_EXE}"
  File "/oname=vorlen-archive.exe" "${ARCHIVE_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\vorlen-sender.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Vorlen Sender"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Vorlen"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vorlen-sender.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "$INSTDIR\vorlen-sender.exe"
  Delete "$INSTDIR\vorlen-send.exe"
  Delete "$INSTDIR\vorlen-archive.exe"
  ; The last send's details file goes with the program; sendcfg.ini stays for a later install.
  Delete "$INSTDIR\sendDetails.txt"
  ; The temporary archive: a compressed copy of the last file packed, should a send have left it.
  Delete "$TEMP\vorarch.rar"
  Delete "$INSTDIR\uninstall.exe"
  Delete "${SHORTCUT}"
  RMDir "$INSTDIR"  ; only when empty: a kept sendcfg.ini keeps its folder
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
