; Quorvane installer. Built by the Windows build with:
;   makensis -DBINDIR=... -DPHOTODIR=... -DOUTFILE=... -DVERSION=... quorvane.nsi
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"

!ifndef VERSION
  !define VERSION "1.1.0.0"
!endif
!define PRODUCT "Quorvane"
!define PRODUCT_KEY "Software\Tessilund\Quorvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${PRODUCT_KEY}" "Path"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} photo screensaver setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Quorvane developers"

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This will install ${PRODUCT}, a 3D photo screensaver that flies your own photographs out of a star field towards you.$\r$\n$\r$\nA few sample photos come with it, so it works straight away; choose your own folders in the screensaver's settings."
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Choose my photos now"
!define MUI_FINISHPAGE_RUN_FUNCTION OpenSettings
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Quorvane screensaver" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${BINDIR}\quorvane.scr"
!if /FileExists "${BINDIR}\fastmm.dll"
  File "${BINDIR}\fastmm.dll"
!endif
!if /FileExists "${BINDIR}\imgbmp.dll"
  File "${BINDIR}\imgbmp.dll"
!endif
!if /FileExists "${BINDIR}\imgwic.dll"
  File "${BINDIR}\imgwic.dll"
!endif
  SetOutPath "$INSTDIR\Photos"
  File "${PHOTODIR}\*.*"

  ; The screensaver settings list the .scr files of the system folder.
  CopyFiles /SILENT "$INSTDIR\quorvane.scr" "$SYSDIR\quorvane.scr"

  WriteRegStr HKLM "${PRODUCT_KEY}" "Path" "$INSTDIR"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} photo screensaver"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorvane developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvane.scr,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Make it my current screensaver" SecCurrent
  WriteRegStr HKCU "Control Panel\Desktop" "SCRNSAVE.EXE" "$SYSDIR\quorvane.scr"
  WriteRegStr HKCU "Control Panel\Desktop" "ScreenSaveActive" "1"
SectionEnd

LangString DESC_SecMain ${LANG_ENGLISH} "The screensaver, its picture decoders and the sample photos."
LangString DESC_SecCurrent ${LANG_ENGLISH} "Select Quorvane in the Screen Saver settings."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} $(DESC_SecMain)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecCurrent} $(DESC_SecCurrent)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function OpenSettings
  Exec '"$SYSDIR\quorvane.scr" /c'
FunctionEnd

Section "Uninstall"
  ; Only what the installer made; the user's catalogue (piclist.dat in the
  ; user's application data) and settings stay.
  ReadRegStr $0 HKCU "Control Panel\Desktop" "SCRNSAVE.EXE"
  ${If} $0 == "$SYSDIR\quorvane.scr"
    DeleteRegValue HKCU "Control Panel\Desktop" "SCRNSAVE.EXE"
  ${EndIf}
  Delete "$SYSDIR\quorvane.scr"
  Delete "$INSTDIR\quorvane.scr"
  Delete "$INSTDIR\fastmm.dll"
  Delete "$INSTDIR\imgbmp.dll"
  Delete "$INSTDIR\imgwic.dll"
  Delete "$INSTDIR\Photos\Aurora.jpg"
  Delete "$INSTDIR\Photos\Harbour at Dusk.png"
  Delete "$INSTDIR\Photos\Meadow.bmp"
  Delete "$INSTDIR\Photos\Glacier.tif"
  Delete "$INSTDIR\Photos\Lanterns.gif"
  Delete "$INSTDIR\Photos\Panorama 12MP.jpg"
  Delete "$INSTDIR\Photos\Dunes.png"
  Delete "$INSTDIR\Photos\Small.jpg"
  Delete "$INSTDIR\Photos\Café.jpg"
  Delete "$INSTDIR\Photos\Tower (portrait).jpg"
  RMDir "$INSTDIR\Photos"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegValue HKLM "${PRODUCT_KEY}" "Path"
  DeleteRegKey /ifempty HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Tessilund"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
