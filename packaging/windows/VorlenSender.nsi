; The Windows installer of Vorlen Sender: the window and the two command-line programs for the
; current user, without administrator rights, in a folder the user may write to (sendcfg.ini
; lives beside the window's program). makensis gets the programs' paths, the icon, the version and
; the output file as -D definitions, and SIGN, a command that signs the file named after it, when
; the build signs (see packaging/windows/make-packages).
; Presets: VorlenSenderSetup.exe /S /URL=http://… /ORG="Община …" writes sendcfg.ini when none
; exists yet.
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"  ; GetParameters

!ifdef SIGN
  ; The uninstaller is written, and so signed, while the installer is built.
  !uninstfinalize '"${SIGN}" "%1"'
  !finalize '"${SIGN}" "%1"'
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VorlenSender"
!define SHORTCUT "$SMPROGRAMS\Vorlen Sender.lnk"
!define SENDTO_SHORTCUT "$SENDTO\Vorlen Sender.lnk"

Name "Vorlen Sender"
BrandingText "Vorlen Sender ${VERSION}"
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
  CreateShortcut "${SENDTO_SHORTCUT}" "$INSTDIR\vorlen-sender.exe"
  Call WritePresetSettings

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
  Delete "${SENDTO_SHORTCUT}"
  RMDir "$INSTDIR"  ; only when empty: a kept sendcfg.ini keeps its folder
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; /URL=… and /ORG=… from the command line become sendcfg.ini, in the system's ANSI code page
; (Windows-1251 on a Bulgarian system) with CR LF, as the program writes it; a file that is
; already there (an upgrade, or settings kept from an uninstall) is left as it is.
Function WritePresetSettings
  ${GetParameters} $R0
  Push "/URL="
  Call PresetValue
  Pop $R1
  Push "/ORG="
  Call PresetValue
  Pop $R2
  StrCmp "$R1$R2" "" done
  IfFileExists "$INSTDIR\sendcfg.ini" done
  FileOpen $R3 "$INSTDIR\sendcfg.ini" w
  FileWrite $R3 "url=$R1$\r$\n"
  FileWrite $R3 "org=$R2$\r$\n"
  FileClose $R3
done:
FunctionEnd

; The value of the option on the stack in the command line $R0 (empty when absent). GetOptions
; would cut a URL at its first "/", so the value runs to the next quote when it (or the whole
; option) is quoted, else to the next option (" /" or ' "') or the end. The name matches in any letter case.
Function PresetValue
  Exch $0  ; the option, "/URL="
  Push $1
  Push $2
  Push $3
  Push $4
  StrLen $1 $0
  StrCpy $2 0
find:
  StrCpy $3 $R0 $1 $2
  StrCmp $3 "" absent
  StrCmp $3 $0 found
  IntOp $2 $2 + 1
  Goto find
found:
  StrCpy $4 " /"  ; what ends the value
  IntOp $3 $2 - 1
  IntCmp $3 0 0 unquoted
  StrCpy $3 $R0 1 $3
  StrCmp $3 '"' 0 unquoted
  StrCpy $4 '"'  ; "/ORG=a b"
unquoted:
  IntOp $2 $2 + $1
  StrCpy $3 $R0 1 $2
  StrCmp $3 '"' 0 +3
  StrCpy $4 '"'  ; /ORG="a b"
  IntOp $2 $2 + 1
  StrLen $1 $4
  StrCpy $0 ""
copy:
  StrCpy $3 $R0 $1 $2
  StrCmp $3 $4 finished
  StrCmp $4 '"' +2
  StrCmp $3 ' "' finished  ; the next option quoted as a whole
  StrCpy $3 $R0 1 $2
  StrCmp $3 "" finished
  StrCpy $0 "$0$3"
  IntOp $2 $2 + 1
  Goto copy
absent:
  StrCpy $0 ""
finished:
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
