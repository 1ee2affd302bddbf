; The setup program of a Quorva distribution, as a packager ships it: it unpacks the
; distribution tree and Install.exe into a folder, runs Install.exe -s there (no root: the
; program's own folder is the root), and leaves an uninstaller that removes exactly what the
; setup unpacked and what Install made. Silent with /S; /D=FOLDER chooses the folder.
;
; Built by packaging/nsis/make-setup.sh, which defines
;   VSN       the runtime version, VSN of the tree's Install.ini
;   VERSION   the version of these programs, x.y.z, for the version resource
;   FILES     a file of two macros over the tree: UnpackFiles and RemoveFiles
;   OUTFILE   the setup to write, and OUTNAME its file name
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
!include "LogicLib.nsh"

Name "Quorva ${VSN}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quorva ${VSN}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

; The version resource of Install.exe, with this program's own description and name.
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "CompanyName" "The Quorva Install authors"
VIAddVersionKey /LANG=1033 "FileDescription" "Sets up Quorva ${VSN}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "InternalName" "setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 The Quorva Install authors. MIT License."
VIAddVersionKey /LANG=1033 "OriginalFilename" "${OUTNAME}"
VIAddVersionKey /LANG=1033 "ProductName" "Quorva Install"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorva ${VSN}"
; What Install printed, and how it ended, for a packager to read after a silent run. It
; lies outside the folder, which a failed first installation removes again.
!define LOG "$TEMP\Quorva ${VSN} setup.log"

Var existing  ; 1 when the folder already holds an installation (an update)
Var command
Var status
Var printed
Var log

Section "Quorva ${VSN}"
  StrCpy $existing 0
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    StrCpy $existing 1
  ${EndIf}
  SetOutPath "$INSTDIR"
  !insertmacro UnpackFiles

  ; Install finds its root from its own path: no root is passed.
  StrCpy $command '"$INSTDIR\Install.exe" -s'
  DetailPrint "Running: $command"
  nsExec::ExecToStack $command
  Pop $status   ; the exit status, or "error" when it could not be started
  Pop $printed  ; what it printed on standard output and standard error
  ${If} $printed != ""
    DetailPrint $printed
  ${EndIf}
  DetailPrint "Exit status: $status"
  FileOpen $log "${LOG}" w
  FileWrite $log "Running: $command$\r$\n$printed"
  FileWrite $log "Exit status: $status$\r$\n"
  FileClose $log

  ${If} $status != 0
    ${IfNot} ${Silent}
      MessageBox MB_ICONSTOP|MB_OK "Quorva ${VSN} could not be installed.$\r$\n$\r$\n$printed"
    ${EndIf}
    ; A first installation leaves nothing behind. An update keeps the earlier installation,
    ; as Install left it: running the setup again converges.
    ${If} $existing == 0
      SetOutPath "$TEMP"
      !insertmacro RemoveWhatInstallMade
      !insertmacro RemoveFiles
      RMDir "$INSTDIR"
    ${EndIf}
    SetErrorLevel 1
    Quit
  ${EndIf}

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quorva ${VSN}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VSN}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Quorva Install authors"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the setup unpacked and what Install made, and nothing else: a file a user
; added stays, with the folders that hold it.
Section "Uninstall"
  !insertmacro RemoveWhatInstallMade
  !insertmacro RemoveFiles
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
