; Quorvane installer. One script makes both kinds; the Windows builds run
;   makensis -DBIN32=... [-DBIN64=...] -DPHOTODIR=... -DOUTFILE=... -DVERSION=... quorvane.nsi
; BIN32 and BIN64 are the bin folders of a 32-bit and a 64-bit build.
;  - With BIN32: an x86 installer. On 64-bit Windows it installs the 64-bit
;    edition when it carries one (BIN64), the 32-bit edition otherwise and
;    on 32-bit Windows.
;  - With BIN64 alone: a 64-bit installer carrying the 64-bit edition only.
!ifdef BIN32
  Unicode true
!else ifdef BIN64
  Target amd64-unicode
!else
  !error "Name the bin folder of at least one edition: -DBIN32=... and/or -DBIN64=..."
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!ifndef VERSION
  !define VERSION "1.1.0.0"
!endif
!define PRODUCT "Quorvane"
!define PRODUCT_KEY "Software\Tessilund\Quorvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"

; What an edition consists of: the one list that installing and uninstalling
; both expand. OP is a macro taking a folder and a file name.
!macro QvProgramFiles OP DIR
  !insertmacro ${OP} "${DIR}" "quorvane.scr"
  !insertmacro ${OP} "${DIR}" "fastmm.dll"
  !insertmacro ${OP} "${DIR}" "imgbmp.dll"
  !insertmacro ${OP} "${DIR}" "imgwic.dll"
!macroend
!macro QvSamplePhotos OP DIR
  !insertmacro ${OP} "${DIR}" "Aurora.jpg"
  !insertmacro ${OP} "${DIR}" "Café.jpg"
  !insertmacro ${OP} "${DIR}" "Dunes.png"
  !insertmacro ${OP} "${DIR}" "Glacier.tif"
  !insertmacro ${OP} "${DIR}" "Harbour at Dusk.png"
  !insertmacro ${OP} "${DIR}" "Lanterns.gif"
  !insertmacro ${OP} "${DIR}" "Meadow.bmp"
  !insertmacro ${OP} "${DIR}" "Panorama 12MP.jpg"
  !insertmacro ${OP} "${DIR}" "Small.jpg"
  !insertmacro ${OP} "${DIR}" "Tower (portrait).jpg"
!macroend

; A missing file stops the build rather than shipping an installer without it.
!macro QvInstallFile DIR NAME
  !if ! /FileExists "${DIR}\${NAME}"
    !error "missing ${DIR}\${NAME}"
  !endif
  File "${DIR}\${NAME}"
!macroend
!macro QvRemoveFile DIR NAME
  Delete "${DIR}\${NAME}"
!macroend

; The edition this run installs or removes, 32 or 64, in $Bits. The
; installer and its uninstaller decide alike, so the uninstaller looks where
; the installer wrote. The 64-bit edition's machine-wide values live in the
; 64-bit registry view, which an x86 installer must ask for; a 64-bit
; installer is in that view already.
Var Bits
!macro QvSelectEdition
  StrCpy $Bits 32
  !ifdef BIN64
    !if ${NSIS_PTR_SIZE} > 4
      ; Starts on 64-bit Windows only.
      StrCpy $Bits 64
    !else
      ${If} ${RunningX64}
        StrCpy $Bits 64
      ${EndIf}
    !endif
  !endif
  ${If} $Bits == 64
    SetRegView 64
  ${EndIf}
!macroend

; Extracts file NAME of the edition in $Bits into the output folder. The
; first argument is unused: the file lists pass a folder.
!macro QvInstallEditionFile _ NAME
  !ifdef BIN64
    ${If} $Bits == 64
      !insertmacro QvInstallFile "${BIN64}" "${NAME}"
    ${EndIf}
  !endif
  !ifdef BIN32
    ${If} $Bits == 32
      !insertmacro QvInstallFile "${BIN32}" "${NAME}"
    ${EndIf}
  !endif
!macroend

; The system folder of the edition: an x86 installer that writes the 64-bit
; edition turns file-system redirection off around its few file operations
; there, so that $SYSDIR is the real System32 and not SysWOW64. Nothing else
; runs in between: with redirection off, a system DLL loaded now would be
; the 64-bit one.
!macro QvSystemFolderBegin
  !if ${NSIS_PTR_SIZE} <= 4
    ${If} $Bits == 64
      ${DisableX64FSRedirection}
    ${EndIf}
  !endif
!macroend
!macro QvSystemFolderEnd
  !if ${NSIS_PTR_SIZE} <= 4
    ${If} $Bits == 64
      ${EnableX64FSRedirection}
    ${EndIf}
  !endif
!macroend

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; No InstallDir: $INSTDIR is empty in .onInit unless /D= named a folder.
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

Function .onInit
  !insertmacro QvSelectEdition
  ; An earlier installation of this edition is updated where it is.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR HKLM "${PRODUCT_KEY}" "Path"
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} $Bits == 64
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Quorvane screensaver" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  !insertmacro QvProgramFiles QvInstallEditionFile ""
  SetOutPath "$INSTDIR\Photos"
  !insertmacro QvSamplePhotos QvInstallFile "${PHOTODIR}"

  ; The screensaver settings list the .scr files of the system folder.
  !insertmacro QvSystemFolderBegin
  SetOutPath "$SYSDIR"
  !insertmacro QvInstallEditionFile "" "quorvane.scr"
  !insertmacro QvSystemFolderEnd
  SetOutPath "$INSTDIR"

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

; The path names the real System32 for either edition: the system's
; screensaver host of 64-bit Windows is a 64-bit process.
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

; The copy in the installation folder: the one in the system folder is out
; of an x86 installer's sight while redirection is on.
Function OpenSettings
  Exec '"$INSTDIR\quorvane.scr" /c'
FunctionEnd

Function un.onInit
  !insertmacro QvSelectEdition
FunctionEnd

Section "Uninstall"
  ; Only what the installer made; the user's catalogue (piclist.dat in the
  ; user's application data) and settings stay.
  ReadRegStr $0 HKCU "Control Panel\Desktop" "SCRNSAVE.EXE"
  ${If} $0 == "$SYSDIR\quorvane.scr"
    DeleteRegValue HKCU "Control Panel\Desktop" "SCRNSAVE.EXE"
  ${EndIf}
  !insertmacro QvSystemFolderBegin
  Delete "$SYSDIR\quorvane.scr"
  !insertmacro QvSystemFolderEnd
  !insertmacro QvProgramFiles QvRemoveFile "$INSTDIR"
  !insertmacro QvSamplePhotos QvRemoveFile "$INSTDIR\Photos"
  RMDir "$INSTDIR\Photos"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegValue HKLM "${PRODUCT_KEY}" "Path"
  DeleteRegKey /ifempty HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Tessilund"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
