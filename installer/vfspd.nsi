; The setup program: installs vfspd.exe, a Start-menu entry and an
; uninstaller, and registers them in the system's list of programs.
; The build runs:
;   makensis -DEXE=path\to\vfspd.exe -DHELP=path\to\VFSPD.CHM -DVERSION=1.0b3 -DOUTFILE=vfspd-setup.exe vfspd.nsi

!ifndef EXE
  !error "define EXE, HELP, VERSION and OUTFILE"
!endif
!ifndef HELP
  !error "define EXE, HELP, VERSION and OUTFILE"
!endif
!ifndef VERSION
  !error "define EXE, VERSION and OUTFILE"
!endif
!ifndef OUTFILE
  !error "define EXE, VERSION and OUTFILE"
!endif

; 64-bit stubs: the program is 64-bit, and so is the Wine it is tested on.
Target amd64-unicode
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "VrelFSPd"
!define PUBLISHER "Quorvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; Names the program uses too: the settings key (settings/Settings.cpp),
; the window class it registers (ui/MainWindow.cpp), its default log
; VFSPD.LOG (settings/Settings.cpp) and its upload folder UPLOADS.FSP
; (engine/core/Paths.h). Change them on both sides.
!define SETTINGS_KEY "Software\${PUBLISHER}\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; A reinstall offers the folder of the last one.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

; makensis reads the script in its own folder.
!define MUI_ICON "../ui/res/fspd.ico"
!define MUI_UNICON "../ui/res/fspd.ico"
!define MUI_WELCOMEPAGE_TEXT "This will install ${PRODUCT} ${VERSION}, an FSP file server, on this computer.$\r$\n$\r$\nThe Start-menu entry starts it in a folder of your own, where it keeps its log and the files being uploaded to it.$\r$\n$\r$\nClick Next to continue."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running server holds vfspd.exe open: it could be neither replaced nor
; removed, and the setup would end with the old program in place.
!macro RefuseWhileRunning
  ; The program's window class.
  FindWindow $0 "${PRODUCT}"
  StrCmp $0 0 +3
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is running. Close it and start again." /SD IDOK
    Quit
!macroend

Function un.onInit
  !insertmacro RefuseWhileRunning
FunctionEnd

Section "VrelFSPd" SecProgram
  SectionIn RO
  ; Under Program Files a user may not write, but the log and the upload
  ; files go to the working directory: the entry starts the server in a
  ; folder of the user's own.
  SetShellVarContext current
  StrCpy $1 "$LOCALAPPDATA\${PRODUCT}"
  StrCpy $2 "$SMPROGRAMS\${PRODUCT}.lnk"
  CreateDirectory $1

  SetOutPath $INSTDIR
  ClearErrors
  File "/oname=vfspd.exe" "${EXE}"
  ; Help > Contents opens it here, beside the program, by full path.
  File "/oname=VFSPD.CHM" "${HELP}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  IfErrors 0 +3
    SetErrorLevel 2
    Abort "Could not write to $INSTDIR."

  ; The shortcut takes the current output folder as its working directory.
  SetOutPath $1
  CreateShortcut $2 "$INSTDIR\vfspd.exe" "" "$INSTDIR\vfspd.exe" 0 SW_SHOWNORMAL "" "FSP file server"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} FSP server"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vfspd.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; The entry and the folder belong to the user who ran the setup: kept
  ; here so that any administrator's uninstall finds them.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "StartMenuEntry" $2
  WriteRegStr HKLM "${UNINSTALL_KEY}" "WorkingDirectory" $1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $3 $4
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The settings live under HKEY_LOCAL_MACHINE, where only administrators may
; write: a user's changes hold only until the program ends, and it says so.
; This lets users read and write the settings key and the keys below it;
; administrators and the system keep full control. Silently: /USERSETTINGS.
; The name fits the components page's list; the description says the rest.
Section /o "Users edit settings" SecUsers
  WriteRegStr HKLM "${SETTINGS_KEY}" "" ""
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)(A;OICI;KRKW;;;BU)", i 1, *p .r0, p 0) i .r1'
  IntCmp $1 0 failed
  System::Call 'advapi32::GetSecurityDescriptorDacl(p r0, *i .r2, *p .r3, *i .r4) i .r1'
  ; SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION: inherited by the keys below.
  System::Call 'advapi32::SetNamedSecurityInfoW(w "MACHINE\${SETTINGS_KEY}", i 4, i 4, p 0, p 0, p r3, p 0) i .r5'
  System::Call 'kernel32::LocalFree(p r0)'
  IntCmp $5 0 done
failed:
  DetailPrint "Users could not be given the right to change the settings."
  SetErrorLevel 2
done:
SectionEnd

; Windows drops datagrams from other computers to a new program's port
; unless a rule lets them in: one inbound UDP rule for the installed
; program, named after it, on private and domain networks, and on public
; ones when chosen (silently: /PUBLIC). A rule of an earlier setup of the
; same folder is replaced; the uninstaller removes exactly this rule. netsh
; is called by full path: a netsh.exe beside the setup program must not run.
!define FIREWALL_RULE 'name="${PRODUCT}" dir=in protocol=UDP program="$INSTDIR\vfspd.exe"'
Section /o "Let clients on public networks reach it" SecPublic
SectionEnd

Section "-Firewall rule" SecFirewall
  StrCpy $0 "private,domain"
  SectionGetFlags ${SecPublic} $1
  IntOp $1 $1 & ${SF_SELECTED}
  IntCmp $1 0 +2
    StrCpy $0 "private,domain,public"
  nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall delete rule ${FIREWALL_RULE}'
  Pop $1
  nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall add rule ${FIREWALL_RULE} action=allow profile=$0 enable=yes'
  Pop $1
  StrCmp $1 0 +3
    DetailPrint "The firewall rule could not be added (netsh: $1): clients on other computers may get no answer."
    SetErrorLevel 2
SectionEnd

LangString DESC_SecProgram ${LANG_ENGLISH} "The server and its help file."
LangString DESC_SecPublic ${LANG_ENGLISH} "Lets clients on public networks (a cafe, a hotel) through the firewall as well. Without it only private and domain networks are let in."
LangString DESC_SecUsers ${LANG_ENGLISH} "Lets every user of this computer change the server's settings (root, port, access). Without it only an administrator's changes are kept."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} $(DESC_SecProgram)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUsers} $(DESC_SecUsers)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPublic} $(DESC_SecPublic)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  !insertmacro RefuseWhileRunning
  ${GetParameters} $R0
  ; Off unless asked for. SelectSection is a macro of several lines: a
  ; relative jump over it would land inside it, so a label is jumped to.
  !insertmacro UnselectSection ${SecUsers}
  ClearErrors
  ${GetOptions} $R0 "/USERSETTINGS" $R1
  IfErrors users_done
    !insertmacro SelectSection ${SecUsers}
users_done:
  ClearErrors
  ${GetOptions} $R0 "/PUBLIC" $R1
  IfErrors public_done
    !insertmacro SelectSection ${SecPublic}
public_done:
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "WorkingDirectory"
  ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "StartMenuEntry"
  StrCmp $1 "" 0 +2
    StrCpy $1 "$LOCALAPPDATA\${PRODUCT}"
  StrCmp $2 "" 0 +2
    StrCpy $2 "$SMPROGRAMS\${PRODUCT}.lnk"

  Delete $2
  nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall delete rule ${FIREWALL_RULE}'
  Pop $0
  Delete "$INSTDIR\vfspd.exe"
  Delete "$INSTDIR\VFSPD.CHM"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: whatever else is in the folder (a log of a run started there)
  ; is not ours to delete.
  RMDir $INSTDIR
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The settings and the log outlive the program unless the user says so;
  ; a silent uninstall keeps them.
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
    "Remove the settings of ${PRODUCT} and its log as well?" /SD IDNO IDNO done
  ReadRegStr $3 HKLM "${SETTINGS_KEY}\Location" "LogPath"
  ; The program expands a REG_EXPAND_SZ; ReadRegStr does not.
  ExpandEnvStrings $3 $3
  StrCmp $3 "" 0 +2
    StrCpy $3 "VFSPD.LOG"
  ; A relative log path is relative to the working directory.
  StrCpy $4 $3 1 1
  StrCmp $4 ":" absolute
  StrCpy $4 $3 1
  StrCmp $4 "\" absolute
  StrCpy $3 "$1\$3"
absolute:
  Delete $3
  Delete "$1\VFSPD.LOG"
  ; Unfinished uploads: the server's own folder.
  RMDir /r "$1\UPLOADS.FSP"
  RMDir $1
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\${PUBLISHER}"
done:
SectionEnd
