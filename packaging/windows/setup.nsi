; The Windows setup program: per user by default (no administrator rights
; needed), all users as a choice (/AllUsers); the window in the Start menu,
; an uninstaller in "Apps & features", the command line on PATH on request
; (/PATH when silent); silent install and uninstall with /S.
;   makensis -DARCH=x86_64|i686 -DVERSION=V -DSRC=PACKAGE_FOLDER -DICON=ICO -DPANEL=BMP -DOUTFILE=SETUP.exe setup.nsi
Unicode true
!if ${ARCH} == x86_64
  Target amd64-unicode
!else
  Target x86-unicode
!endif

!define APP_NAME "KVR Conversion"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KVRConversion"

Name "${APP_NAME} ${VERSION}"
OutFile "${OUTFILE}"
SetCompressor /SOLID lzma
BrandingText "${APP_NAME} ${VERSION}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "${APP_NAME}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!if ${ARCH} == x86_64
  !define MULTIUSER_USE_PROGRAMFILES64
!endif
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include WinMessages.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${PANEL}"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${PANEL}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\kvrconversion-gui.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${APP_NAME}"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${APP_NAME}"
VIAddVersionKey "FileDescription" "${APP_NAME} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "MIT License"
VIAddVersionKey "CompanyName" "The KVR Conversion developers"

; The PATH this install mode changes: the user's, or the machine's.
!macro PathKey ROOT SUBKEY
  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy ${ROOT} "HKLM"
    StrCpy ${SUBKEY} "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
  ${Else}
    StrCpy ${ROOT} "HKCU"
    StrCpy ${SUBKEY} "Environment"
  ${EndIf}
!macroend

Section "${APP_NAME}" SecProgram
  SectionIn RO
  ; An earlier version goes first, so that nothing of it stays.
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    ExecWait '"$INSTDIR\uninstall.exe" /S /$MultiUser.InstallMode _?=$INSTDIR'
    Delete "$INSTDIR\uninstall.exe"
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "${SRC}\kvrconversion.exe"
  File "${SRC}\kvrconversion-gui.exe"
  File "${SRC}\README.txt"
  File "${SRC}\LICENSE.txt"
  SetOutPath "$INSTDIR\licences"
  File "${SRC}\licences\*.txt"
  SetOutPath "$INSTDIR\docs"
  File "${SRC}\docs\report.md"
  File "${SRC}\docs\report.schema.json"
  SetOutPath "$INSTDIR\example"
  File "${SRC}\example\plant.xlsx"
  File "${SRC}\example\Switcher.db"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP_NAME}.lnk" "$INSTDIR\kvrconversion-gui.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The KVR Conversion developers"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kvrconversion-gui.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S /$MultiUser.InstallMode'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "Command line on PATH" SecPath
  !insertmacro PathKey $1 $2
  ${If} $1 == "HKLM"
    ReadRegStr $0 HKLM $2 "Path"
  ${Else}
    ReadRegStr $0 HKCU $2 "Path"
  ${EndIf}
  ${WordFind} "$0" ";" "E/$INSTDIR" $3
  ${If} ${Errors}  ; not there yet
    ${If} $0 == ""
      StrCpy $0 "$INSTDIR"
    ${Else}
      StrCpy $0 "$0;$INSTDIR"
    ${EndIf}
    ${If} $1 == "HKLM"
      WriteRegExpandStr HKLM $2 "Path" $0
    ${Else}
      WriteRegExpandStr HKCU $2 "Path" $0
    ${EndIf}
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "AddedToPath" 1
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "The window, the command line, the README and the example plant with its database."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} "Lets kvrconversion be typed in any command prompt."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  !insertmacro MULTIUSER_INIT
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
  ; An upgrade keeps the command line on PATH where the earlier install put
  ; it, /PATH given or not: its uninstaller, run first, takes it off.
  ReadRegDWORD $1 SHCTX "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $1 == 1
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Uninstall"
  ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    !insertmacro PathKey $1 $2
    ${If} $1 == "HKLM"
      ReadRegStr $0 HKLM $2 "Path"
    ${Else}
      ReadRegStr $0 HKCU $2 "Path"
    ${EndIf}
    ${un.WordReplace} "$0" ";$INSTDIR" "" "+" $0
    ${un.WordReplace} "$0" "$INSTDIR;" "" "+" $0
    ${un.WordReplace} "$0" "$INSTDIR" "" "+" $0
    ; A Path that held only this program goes with it, not left empty.
    ${If} $0 == ""
      ${If} $1 == "HKLM"
        DeleteRegValue HKLM $2 "Path"
      ${Else}
        DeleteRegValue HKCU $2 "Path"
      ${EndIf}
    ${ElseIf} $1 == "HKLM"
      WriteRegExpandStr HKLM $2 "Path" $0
    ${Else}
      WriteRegExpandStr HKCU $2 "Path" $0
    ${EndIf}
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}
  ; Only what the setup put there: outputs and settings the user made stay.
  Delete "$INSTDIR\kvrconversion.exe"
  Delete "$INSTDIR\kvrconversion-gui.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\licences\*.txt"
  RMDir "$INSTDIR\licences"
  Delete "$INSTDIR\docs\report.md"
  Delete "$INSTDIR\docs\report.schema.json"
  RMDir "$INSTDIR\docs"
  Delete "$INSTDIR\example\plant.xlsx"
  Delete "$INSTDIR\example\Switcher.db"
  RMDir "$INSTDIR\example"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP_NAME}.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
