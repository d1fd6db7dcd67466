; The Ovalix installer for Windows. The build (target "installer") compiles it
; through a generated script that defines the version and the path of every
; program it packages:
;   VERSION, OUTFILE, SVC, MONITOR               always
;   VIEWER, FILTER32, SNAP32, FILTER64, SNAP64   when that program is built
; Silent with /S. The uninstaller keeps the stored picture formats unless the
; user says otherwise, or /DELETETABLE is given in silent mode.

Unicode true
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define SERVICE "OvalixSvc"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ovalix"
; Written by the 32-bit service, so under the 32-bit view as this program is.
!define TABLE_KEY "Software\Ovalix"
!define MENU_FOLDER "$SMPROGRAMS\Ovalix"

Name "Ovalix ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Ovalix"
; An upgrade goes where the previous version was installed.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Ovalix"
VIAddVersionKey /LANG=1033 "FileDescription" "Ovalix setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Ovalix developers"

Page directory SkipDirectoryOnUpgrade
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var deleteTable

; Runs a program without a console window; $0 is its exit code.
!macro Run COMMAND
  nsExec::Exec `${COMMAND}`
  Pop $0
!macroend

; Stops the service if it runs and waits until its program file is free:
; the process may still be ending when the service manager reports it stopped.
!macro StopService UN
Function ${UN}StopService
  !insertmacro Run '"$SYSDIR\net.exe" stop ${SERVICE}'
  ${IfNot} ${FileExists} "$INSTDIR\OvalixSvc.exe"
    Return
  ${EndIf}
  StrCpy $1 0
  ${Do}
    ClearErrors
    FileOpen $2 "$INSTDIR\OvalixSvc.exe" a
    ${IfNot} ${Errors}
      FileClose $2
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 > 100
      ${Break}
    ${EndIf}
    Sleep 100
  ${Loop}
FunctionEnd
!macroend
!insertmacro StopService ""
!insertmacro StopService "un."

; Asks a running viewer to close and waits for its window to go, so that its
; program and the filter it has loaded can be replaced or removed.
!macro CloseViewer UN
Function ${UN}CloseViewer
  StrCpy $1 0
  ${Do}
    FindWindow $0 "OVALIXSETUP" "Ovalix Viewer"
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    ${If} $1 == 0
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 > 50
      ${Break}
    ${EndIf}
    Sleep 100
  ${Loop}
  ; The process ends a moment after its window.
  Sleep 500
FunctionEnd
!macroend
!insertmacro CloseViewer ""
!insertmacro CloseViewer "un."

; Registers (REG "") or unregisters (REG "/u ") a capture filter DLL with the
; regsvr32 of its own bitness.
!macro Regsvr32 REG DLL BITS
  !if ${BITS} == 64
    ${DisableX64FSRedirection}
  !endif
  !insertmacro Run '"$SYSDIR\regsvr32.exe" /s ${REG}"${DLL}"'
  !if ${BITS} == 64
    ${EnableX64FSRedirection}
  !endif
!macroend

Function .onInit
  SetShellVarContext all
FunctionEnd

; An upgrade stays where the registered service runs from: the service's
; registration keeps its path, so another folder would leave it on the old
; program.
Function SkipDirectoryOnUpgrade
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    Abort
  ${EndIf}
FunctionEnd

Section "Ovalix"
  ; An older version's service and viewer run from the files about to be
  ; replaced.
  Call StopService
  Call CloseViewer

  SetOutPath "$INSTDIR"
  File "/oname=OvalixSvc.exe" "${SVC}"
  File "/oname=ovalix-monitor.exe" "${MONITOR}"
  !ifdef VIEWER
    File "/oname=OvalixViewer.exe" "${VIEWER}"
    CreateDirectory "${MENU_FOLDER}"
    CreateShortcut "${MENU_FOLDER}\Ovalix Viewer.lnk" "$INSTDIR\OvalixViewer.exe"
  !endif
  !ifdef SNAP32
    File "/oname=ovalix-snap.exe" "${SNAP32}"
  !endif
  !ifdef FILTER32
    File "/oname=ovalix_filter.dll" "${FILTER32}"
    !insertmacro Regsvr32 "" "$INSTDIR\ovalix_filter.dll" 32
    ${If} $0 != 0
      DetailPrint "The 32-bit capture filter was not registered ($0)."
      SetErrorLevel 4
    ${EndIf}
  !endif
  ; The 64-bit filter serves 64-bit applications; it is installed only where
  ; they can run.
  !ifdef FILTER64
    ${If} ${RunningX64}
      SetOutPath "$INSTDIR\x64"
      File "/oname=ovalix_filter.dll" "${FILTER64}"
      !ifdef SNAP64
        File "/oname=ovalix-snap.exe" "${SNAP64}"
      !endif
      !insertmacro Regsvr32 "" "$INSTDIR\x64\ovalix_filter.dll" 64
      ${If} $0 != 0
        DetailPrint "The 64-bit capture filter was not registered ($0)."
        SetErrorLevel 4
      ${EndIf}
    ${EndIf}
  !endif

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Ovalix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Ovalix developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; "install" registers the service; over an older install it is registered
  ; already and nothing changes. Then it starts, as it will with every boot.
  !insertmacro Run '"$INSTDIR\OvalixSvc.exe" install'
  !insertmacro Run '"$SYSDIR\net.exe" start ${SERVICE}'
  ${If} $0 != 0
    DetailPrint "The Ovalix service did not start ($0)."
    SetErrorLevel 3
  ${EndIf}
SectionEnd

Function un.onInit
  SetShellVarContext all
  StrCpy $deleteTable 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DELETETABLE" $R1
  ${IfNot} ${Errors}
    StrCpy $deleteTable 1
  ${ElseIfNot} ${Silent}
    MessageBox MB_YESNO|MB_ICONQUESTION \
      "Keep the picture formats the phone offered, for a later installation?" \
      /SD IDYES IDYES keep
    StrCpy $deleteTable 1
    keep:
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.StopService
  Call un.CloseViewer
  !insertmacro Run '"$SYSDIR\sc.exe" delete ${SERVICE}'

  ${If} ${FileExists} "$INSTDIR\ovalix_filter.dll"
    !insertmacro Regsvr32 "/u " "$INSTDIR\ovalix_filter.dll" 32
  ${EndIf}
  ${If} ${RunningX64}
  ${AndIf} ${FileExists} "$INSTDIR\x64\ovalix_filter.dll"
    !insertmacro Regsvr32 "/u " "$INSTDIR\x64\ovalix_filter.dll" 64
  ${EndIf}

  Delete "$INSTDIR\OvalixSvc.exe"
  Delete "$INSTDIR\ovalix-monitor.exe"
  Delete "$INSTDIR\OvalixViewer.exe"
  Delete "$INSTDIR\ovalix-snap.exe"
  ; Another camera application may hold a filter: it goes at the next start.
  Delete /REBOOTOK "$INSTDIR\ovalix_filter.dll"
  Delete /REBOOTOK "$INSTDIR\x64\ovalix_filter.dll"
  Delete "$INSTDIR\x64\ovalix-snap.exe"
  RMDir /REBOOTOK "$INSTDIR\x64"
  Delete "${MENU_FOLDER}\Ovalix Viewer.lnk"
  RMDir "${MENU_FOLDER}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  ${If} $deleteTable == 1
    DeleteRegKey HKLM "${TABLE_KEY}"
  ${EndIf}
  ; Last, so that its absence tells that the uninstaller is done.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
