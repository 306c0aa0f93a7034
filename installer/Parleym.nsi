; The Parleym installer. Built by scripts/dist.sh for i686 (the release) and by the
; installer test for amd64:
;   makensis -DSRCDIR=<source tree> -DFILES=<folder with the deliverables, users.dat, README.txt>
;            -DOUTFILE=<installer.exe> [-DAMD64] installer/Parleym.nsi
;
; Per-user installation: the data files (logs, statistics, settings) are written beside the
; hook library by the messenger running as the user, so the folder must be the user's own.
;
; Command line (besides NSIS's own /S and /D=folder):
;   uninstaller /REMOVEDATA  remove the data files without asking
;   uninstaller /KEEPDATA    keep them without asking (a silent uninstall keeps them anyway)

!ifndef SRCDIR | FILES | OUTFILE
  !error "define SRCDIR, FILES and OUTFILE"
!endif

!ifdef AMD64
  Target amd64-unicode
!else
  Target x86-unicode
!endif

!searchparse /file "${SRCDIR}/shared/Version.h" "#define PARLEYM_VERSION_MAJOR " VMAJOR
!searchparse /file "${SRCDIR}/shared/Version.h" "#define PARLEYM_VERSION_MINOR " VMINOR
!searchparse /file "${SRCDIR}/shared/Version.h" "#define PARLEYM_VERSION_PATCH " VPATCH
!define VERSION "${VMAJOR}.${VMINOR}.${VPATCH}"
!searchparse /file "${SRCDIR}/shared/Version.h" '#define PARLEYM_MAKER "' MAKER '"'
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Parleym"
!define SETTINGS_KEY "Software\Parleym"
!define LOADER_CLASS "ParleymLdrClass"
!define LOADER_EXIT 105

Unicode true
Name "Parleym ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Parleym"
InstallDirRegKey HKCU "${SETTINGS_KEY}" "InstallDir"
RequestExecutionLevel user
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
BrandingText "Parleym ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Parleym"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Parleym installer"
VIAddVersionKey /LANG=1033 "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 ${MAKER}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define MUI_ICON "${SRCDIR}/loader/res/parleym.ico"
!define MUI_UNICON "${SRCDIR}/loader/res/parleym.ico"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This installs Parleym ${VERSION}, the add-on for Windows Messenger 4.7 and MSN Messenger 5.0: conversation logs, a password lock, online statistics and offline messages.$\r$\n$\r$\nYour logs and settings are kept in the folder you choose next."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Parleym and its data files (logs, statistics, settings) go into this folder. Choose a folder you can write to."
!define MUI_FINISHPAGE_RUN "$INSTDIR\ParleymLdr.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Parleym now"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Files held by a running loader (and the hook library mapped into the messenger) cannot
; be replaced: ask the loader to exit, as its tray menu's Exit does, and wait for it.
!macro CloseLoader un
Function ${un}CloseLoader
  retry:
  FindWindow $0 "${LOADER_CLASS}"
  ${If} $0 == 0
    Return
  ${EndIf}
  SendMessage $0 ${WM_COMMAND} ${LOADER_EXIT} 0 /TIMEOUT=2000
  StrCpy $1 0
  ${Do}
    Sleep 250
    FindWindow $0 "${LOADER_CLASS}"
    ${If} $0 == 0
      Return
    ${EndIf}
    IntOp $1 $1 + 1
  ${LoopUntil} $1 >= 20
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Parleym is still running and could not be closed (it stays while the messenger is locked or a Parleym dialog is open).$\r$\n$\r$\nClose it from its icon in the notification area, then choose Retry." /SD IDCANCEL IDRETRY retry
  Abort "Parleym is still running."
FunctionEnd
!macroend
!insertmacro CloseLoader ""
!insertmacro CloseLoader "un."

Section "Parleym" SecMain
  SectionIn RO
  SetShellVarContext current
  Call CloseLoader
  SetOutPath "$INSTDIR"
  File "${FILES}/ParleymLdr.exe"
  File "${FILES}/ParleymHk.dll"
  File "${FILES}/ParleymPlugin.dll"
  File "${FILES}/README.txt"
  ; The accounts and passwords of an earlier installation stay.
  SetOverwrite off
  File "${FILES}/users.dat"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Parleym"
  CreateShortcut "$SMPROGRAMS\Parleym\Parleym.lnk" "$INSTDIR\ParleymLdr.exe" "" "$INSTDIR\ParleymLdr.exe" 0 \
    SW_SHOWNORMAL "" "Start Parleym beside the messenger"
  CreateShortcut "$SMPROGRAMS\Parleym\Uninstall Parleym.lnk" "$INSTDIR\Uninstall.exe"

  WriteRegStr HKCU "${SETTINGS_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Parleym"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ParleymLdr.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S /KEEPDATA'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.CloseLoader
  ; The hook library may stay mapped in the messenger for a moment after the loader went.
  Delete /REBOOTOK "$INSTDIR\ParleymLdr.exe"
  Delete /REBOOTOK "$INSTDIR\ParleymHk.dll"
  Delete /REBOOTOK "$INSTDIR\ParleymPlugin.dll"
  Delete "$INSTDIR\README.txt"
  Delete "$SMPROGRAMS\Parleym\Parleym.lnk"
  Delete "$SMPROGRAMS\Parleym\Uninstall Parleym.lnk"
  RMDir "$SMPROGRAMS\Parleym"

  ; The data files are the user's: removed only when the user says so.
  ${un.GetParameters} $R0
  StrCpy $R2 "ask"
  ClearErrors
  ${un.GetOptions} $R0 "/REMOVEDATA" $R1
  ${IfNot} ${Errors}
    StrCpy $R2 "remove"
  ${EndIf}
  ClearErrors
  ${un.GetOptions} $R0 "/KEEPDATA" $R1
  ${IfNot} ${Errors}
    StrCpy $R2 "keep"
  ${EndIf}
  ${If} $R2 == "ask"
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Also remove your Parleym data files from $INSTDIR?$\r$\n$\r$\nThey hold your conversation logs, statistics, offline messages and account settings (logs.dat, stats.dat, objcache.dat, offlinemsg.dat, users.dat). Logs you keep in another folder are not touched.$\r$\n$\r$\nChoose No to keep them for a later installation." /SD IDNO IDYES remove
    StrCpy $R2 "keep"
    Goto decided
    remove:
    StrCpy $R2 "remove"
    decided:
  ${EndIf}
  ${If} $R2 == "remove"
    Delete "$INSTDIR\logs.dat"
    Delete "$INSTDIR\stats.dat"
    Delete "$INSTDIR\objcache.dat"
    Delete "$INSTDIR\offlinemsg.dat"
    Delete "$INSTDIR\users.dat"
    ; What a save cut short leaves beside them.
    Delete "$INSTDIR\logs.dat-journal"
    Delete "$INSTDIR\stats.dat-journal"
    Delete "$INSTDIR\objcache.dat-journal"
    Delete "$INSTDIR\offlinemsg.dat-journal"
    Delete "$INSTDIR\users.dat.new"
    DetailPrint "Data files removed."
  ${Else}
    DetailPrint "Data files kept in $INSTDIR."
  ${EndIf}

  Delete "$INSTDIR\Uninstall.exe"
  ; Only if nothing else is left in it.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${SETTINGS_KEY}"
SectionEnd
