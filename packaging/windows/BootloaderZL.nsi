; The Windows installer: BootloaderZL.exe and bzl.exe under Program Files, a Start menu
; entry, bzl.exe on the user's PATH when asked, and an uninstaller listed in Apps &
; features. Built by tools/build-windows.sh:
;   makensis -DVERSION=1.23 -DBUILD=build-win -DOUTFILE=... [-DSIGN=command] BootloaderZL.nsi
; Silent: setup.exe /S [/PATH] [/D=C:\other\folder]; the uninstaller: uninstall.exe /S.

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef BUILD
  !error "BUILD (the folder with the .exe files) is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "BootloaderZL-${VERSION}-setup.exe"
!endif

; The installer and the uninstaller written into it are signed as they are made.
!ifdef SIGN
  !finalize '${SIGN} "%1"' = 0
  !uninstfinalize '${SIGN} "%1"' = 0
!endif

!define APP "BootloaderZL"
!define PUBLISHER "Hallwyn"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define ENVIRONMENT_KEY "Environment"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PUBLISHER}\${APP}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${APP} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "StrFunc.nsh"
!include "WinMessages.nsh"
!include "x64.nsh"

${StrStr}
${UnStrRep}

!define MUI_ICON "${BUILD}\icon.ico"
!define MUI_UNICON "${BUILD}\icon.ico"
!define MUI_COMPONENTSPAGE_SMALLDESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

Section "BootloaderZL and bzl" SecProgram
  SectionIn RO
  SetShellVarContext all
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${BUILD}\BootloaderZL.exe"
  File "${BUILD}\bzl.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\BootloaderZL.exe" "" "$INSTDIR\BootloaderZL.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\BootloaderZL.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The folder goes at the end of the user's own PATH (HKCU\Environment), not the machine's:
; the uninstaller takes it out again. A PATH longer than NSIS can hold in one string is
; left alone (and the user told), never cut.
Section /o "bzl.exe on the PATH" SecPath
  ReadRegStr $0 HKCU "${ENVIRONMENT_KEY}" "Path"
  StrLen $1 $0
  ${If} $1 >= ${NSIS_MAX_STRLEN}
  ${OrIf} $1 > 2000
    DetailPrint "Your PATH is too long to be changed here: add $INSTDIR to it by hand."
    Return
  ${EndIf}
  ${StrStr} $2 ";$0;" ";$INSTDIR;"
  ${If} $2 != ""
    DetailPrint "$INSTDIR is on your PATH already."
    Return
  ${EndIf}
  ${If} $0 == ""
    StrCpy $0 "$INSTDIR"
  ${Else}
    StrCpy $0 "$0;$INSTDIR"
  ${EndIf}
  WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" $0
  SetRegView 64
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
SectionEnd

LangString DESC_Program ${LANG_ENGLISH} "The window (BootloaderZL.exe), the command line (bzl.exe) and a Start menu entry."
LangString DESC_Program ${LANG_GERMAN} "Das Fenster (BootloaderZL.exe), die Kommandozeile (bzl.exe) und ein Eintrag im Startmenü."
LangString DESC_Path ${LANG_ENGLISH} "Adds the folder to your PATH, so that bzl runs in any console window."
LangString DESC_Path ${LANG_GERMAN} "Nimmt den Ordner in Ihren PATH auf, damit bzl in jedem Konsolenfenster läuft."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} $(DESC_Program)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} $(DESC_Path)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${APP} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  ; /PATH: bzl.exe on the PATH, also in a silent installation.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    ReadRegStr $1 HKCU "${ENVIRONMENT_KEY}" "Path"
    StrLen $2 $1
    ${If} $2 < ${NSIS_MAX_STRLEN}
      ${UnStrRep} $1 ";$1;" ";$INSTDIR;" ";"
      ; the separators added above come off again
      StrCpy $1 $1 "" 1
      StrCpy $1 $1 -1
      WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" $1
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
    ${EndIf}
  ${EndIf}
  Delete "$SMPROGRAMS\${APP}.lnk"
  Delete "$INSTDIR\BootloaderZL.exe"
  Delete "$INSTDIR\bzl.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
