; The Ovalix installers for Windows, 32-bit and 64-bit, from this one script.
; The build (target "installer") compiles it through a generated script that
; defines the version, the bitness and the path of every program it packages:
;   VERSION, OUTFILE, BITS (32 or 64), SVC, MONITOR   always
;   VIEWER, FILTER, SNAP, VCAM, VCAM_TOOL, WEB       when this build makes them
;   OTHER_FILTER, OTHER_SNAP, OTHER_VCAM             the other bitness's, when
;                                                    its build makes them
; Silent with /S. The uninstaller keeps the stored picture formats unless the
; user says otherwise, or /DELETETABLE is given in silent mode.
;
; Layout: this bitness's programs, capture filter and camera source in the
; installation folder, the other bitness's filter, source and ovalix-snap in
; a folder of their own inside it (x64 beside the 32-bit programs, x86 beside
; the 64-bit ones).
;
; The camera, by Windows version. From Windows 11 (build 22000) on, the
; Media Foundation source becomes a virtual camera (ovalix-vcam register),
; which Media Foundation and DirectShow applications alike list; the capture
; filter then stays registered as a class only (the viewer creates it by its
; identifier) and leaves the video input device category, so that
; applications do not list the phone twice. Earlier Windows list the filter
; among the video input devices as before. The uninstall entry's value
; "VirtualCamera" records a registered virtual camera, which the
; uninstaller removes again.
;
; The phone page (WEB, ovalix-web.exe): a service of its own, "OvalixWeb",
; that starts with the system and restarts after a failure like the
; connection manager; a firewall rule for its port 5056; and the Start-menu
; entry "Connect a phone", which opens its pairing page on this PC. Its
; certificate, key and pairing code live in ProgramData\Ovalix\web, which
; the uninstaller deletes only with the stored table.

Unicode true
!include LogicLib.nsh
!include x64.nsh
!if ${BITS} == 64
  Target amd64-unicode
  !define OTHER_BITS 32
  !define OTHER_DIR "x86"
  ; A 64-bit program runs on 64-bit Windows only (x64.nsh's own test is a
  ; constant here, which leaves its branches unused).
  !define On64BitWindows `1 = 1`
!else
  !define OTHER_BITS 64
  !define OTHER_DIR "x64"
  !define On64BitWindows `${RunningX64}`
!endif
!include FileFunc.nsh
!include WinMessages.nsh

!define SERVICE "OvalixSvc"
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\${SERVICE}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ovalix"
; Both services keep the table in the 32-bit registry view.
!define TABLE_KEY "Software\Ovalix"
!define MENU_FOLDER "$SMPROGRAMS\Ovalix"
!define FIREWALL_RULE "Ovalix connection manager"
; The capture filter's entry among the video input devices.
!define FILTER_DEVICE_KEY "Software\Classes\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance\{5E75F4EE-128D-4972-8CD9-5B82DF38EB55}"
!define WINDOWS_VERSION_KEY "Software\Microsoft\Windows NT\CurrentVersion"
!define VIRTUAL_CAMERA_BUILD 22000
!define FIREWALL_DESCRIPTION "Lets a phone on a private or work network connect to the Ovalix connection manager on TCP port 5055."
!define WEB_SERVICE "OvalixWeb"
!define WEB_SERVICE_KEY "SYSTEM\CurrentControlSet\Services\${WEB_SERVICE}"
!define WEB_FIREWALL_RULE "Ovalix phone page"
!define WEB_FIREWALL_DESCRIPTION "Lets the web browser of a phone on a private or work network open the Ovalix phone page on TCP port 5056."
!define PAIR_URL "http://127.0.0.1:5057/"

Name "Ovalix ${VERSION}"
OutFile "${OUTFILE}"
!if ${BITS} == 64
  InstallDir "$PROGRAMFILES64\Ovalix"
!else
  InstallDir "$PROGRAMFILES\Ovalix"
!endif
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Ovalix"
VIAddVersionKey /LANG=1033 "FileDescription" "Ovalix setup for ${BITS}-bit Windows"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Ovalix developers"

Page directory SkipDirectoryOnUpgrade
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The registry view of the installation this one replaces ("32" or "64"),
; empty for a first installation.
Var previousView
Var deleteTable
; 1 where this Windows has virtual cameras (build 22000 and later).
Var virtualCamera

; ---------------------------------------------------------------------------
; Helpers

; Runs a program without a console window; $0 is its exit code, or "error"
; when it could not be started.
!macro Run COMMAND
  nsExec::Exec `${COMMAND}`
  Pop $0
!macroend

; Sets the registry view of this installer's own bitness: the uninstall
; entry lives there, where the system's program list looks for it.
!macro OwnRegView
  SetRegView ${BITS}
!macroend

; Stops the service if it runs and waits until its program file is free:
; the process may still be ending when the service manager reports it stopped.
!macro StopService UN
Function ${UN}StopService
  !insertmacro Run '"$SYSDIR\net.exe" stop ${WEB_SERVICE}'
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

; Removes the firewall rule by its name, every copy of it; netsh answers 1
; when there is none.
!macro RemoveFirewallRule UN
Function ${UN}RemoveFirewallRule
  !insertmacro Run '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${FIREWALL_RULE}"'
FunctionEnd
Function ${UN}RemoveWebFirewallRule
  !insertmacro Run '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${WEB_FIREWALL_RULE}"'
FunctionEnd
!macroend
!insertmacro RemoveFirewallRule ""
!insertmacro RemoveFirewallRule "un."

; Runs the regsvr32 of a DLL's bitness (DLL_BITS) with ARGS: the system
; directory's own for this installer's bitness, the 64-bit one with the file
; system redirection off, the 32-bit one from SysWOW64.
!macro Regsvr32 ARGS DLL_BITS
  !if ${DLL_BITS} == ${BITS}
    !insertmacro Run '"$SYSDIR\regsvr32.exe" /s ${ARGS}'
  !else if ${DLL_BITS} == 64
    ${DisableX64FSRedirection}
    !insertmacro Run '"$SYSDIR\regsvr32.exe" /s ${ARGS}'
    ${EnableX64FSRedirection}
  !else
    !insertmacro Run '"$WINDIR\SysWOW64\regsvr32.exe" /s ${ARGS}'
  !endif
!macroend

; Registers a capture filter DLL with the regsvr32 of its bitness. Where that
; regsvr32 cannot even start, this Windows runs no programs of that bitness,
; so none needs the filter.
!macro RegisterFilter DLL DLL_BITS
  !insertmacro Regsvr32 '"${DLL}"' ${DLL_BITS}
  ${If} $0 == "error"
    DetailPrint "No ${DLL_BITS}-bit programs run here: the ${DLL_BITS}-bit capture filter is not registered."
  ${ElseIf} $0 != 0
    DetailPrint "The ${DLL_BITS}-bit capture filter was not registered ($0)."
    SetErrorLevel 4
  ${EndIf}
!macroend

; The camera source DLL, likewise.
!macro RegisterSource DLL DLL_BITS
  !insertmacro Regsvr32 '"${DLL}"' ${DLL_BITS}
  ${If} $0 != 0
  ${AndIf} $0 != "error"
    DetailPrint "The ${DLL_BITS}-bit camera source was not registered ($0)."
    SetErrorLevel 4
  ${EndIf}
!macroend

!macro UnregisterFilter DLL DLL_BITS
  ${If} ${FileExists} "${DLL}"
    !insertmacro Regsvr32 '/u "${DLL}"' ${DLL_BITS}
  ${EndIf}
!macroend

; Sets $virtualCamera from the build number Windows keeps in the registry
; (GetVersionEx answers what a program's manifest allows).
Function DetectVirtualCamera
  StrCpy $virtualCamera 0
  ReadRegStr $1 HKLM "${WINDOWS_VERSION_KEY}" "CurrentBuildNumber"
  ${If} $1 != ""
  ${AndIf} $1 >= ${VIRTUAL_CAMERA_BUILD}
    StrCpy $virtualCamera 1
  ${EndIf}
FunctionEnd

; Takes the capture filter out of the video input device category in both
; registry views; its class stays.
Function LeaveDeviceCategory
  SetRegView 32
  DeleteRegKey HKLM "${FILTER_DEVICE_KEY}"
  SetRegView 64
  DeleteRegKey HKLM "${FILTER_DEVICE_KEY}"
  !insertmacro OwnRegView
FunctionEnd

; ---------------------------------------------------------------------------
; Installation

; An upgrade goes where the previous version is installed, whichever
; bitness it was: the service's registration keeps its program's path.
Function .onInit
  SetShellVarContext all
  StrCpy $previousView ""
  !insertmacro OwnRegView
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $previousView ${BITS}
  ${ElseIf} ${On64BitWindows}
    SetRegView ${OTHER_BITS}
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    !insertmacro OwnRegView
    ${If} $0 != ""
      !if ${BITS} == 32
        ; The 64-bit programs would be replaced by 32-bit ones.
        MessageBox MB_OK|MB_ICONSTOP \
          "Ovalix for 64-bit Windows is installed in $0. Install Ovalix-${VERSION}-x64-setup.exe over it, or uninstall it first." \
          /SD IDOK
        Abort
      !endif
      StrCpy $previousView ${OTHER_BITS}
    ${EndIf}
  ${EndIf}
  ${If} $previousView != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function SkipDirectoryOnUpgrade
  ${If} $previousView != ""
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
  !ifdef SNAP
    File "/oname=ovalix-snap.exe" "${SNAP}"
  !endif
  !ifdef FILTER
    File "/oname=ovalix_filter.dll" "${FILTER}"
    !insertmacro RegisterFilter "$INSTDIR\ovalix_filter.dll" ${BITS}
  !endif
  !ifdef VCAM
    File "/oname=ovalix_vcam.dll" "${VCAM}"
    !insertmacro RegisterSource "$INSTDIR\ovalix_vcam.dll" ${BITS}
  !endif
  !ifdef VCAM_TOOL
    File "/oname=ovalix-vcam.exe" "${VCAM_TOOL}"
  !endif
  !ifdef WEB
    File "/oname=ovalix-web.exe" "${WEB}"
    CreateDirectory "${MENU_FOLDER}"
    WriteINIStr "${MENU_FOLDER}\Connect a phone.url" "InternetShortcut" "URL" "${PAIR_URL}"
  !endif
  ; The 32-bit installer puts the 64-bit pieces only where 64-bit
  ; applications run.
  !ifdef OTHER_FILTER
    ${If} ${On64BitWindows}
      SetOutPath "$INSTDIR\${OTHER_DIR}"
      File "/oname=ovalix_filter.dll" "${OTHER_FILTER}"
      !ifdef OTHER_SNAP
        File "/oname=ovalix-snap.exe" "${OTHER_SNAP}"
      !endif
      !insertmacro RegisterFilter "$INSTDIR\${OTHER_DIR}\ovalix_filter.dll" ${OTHER_BITS}
    ${EndIf}
  !endif
  !ifdef OTHER_VCAM
    ${If} ${On64BitWindows}
      SetOutPath "$INSTDIR\${OTHER_DIR}"
      File "/oname=ovalix_vcam.dll" "${OTHER_VCAM}"
      !insertmacro RegisterSource "$INSTDIR\${OTHER_DIR}\ovalix_vcam.dll" ${OTHER_BITS}
    ${EndIf}
  !endif

  ; Over a 32-bit installation: its 64-bit pieces now sit in the folder
  ; itself (the filter re-registered there above), and its uninstall entry
  ; gives way to this one's.
  !if ${BITS} == 64
    ${If} $previousView == 32
      Delete /REBOOTOK "$INSTDIR\x64\ovalix_filter.dll"
      Delete /REBOOTOK "$INSTDIR\x64\ovalix_vcam.dll"
      Delete "$INSTDIR\x64\ovalix-snap.exe"
      RMDir /REBOOTOK "$INSTDIR\x64"
      SetRegView 32
      DeleteRegKey HKLM "${UNINSTALL_KEY}"
      !insertmacro OwnRegView
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

  ; The camera: a virtual camera from Windows 11 on (the filter then leaves
  ; the device category), the filter among the video input devices before.
  ; The filters were registered above with their category entry, so an
  ; upgrade on earlier Windows keeps it, and one on Windows 11 drops it.
  Call DetectVirtualCamera
  DeleteRegValue HKLM "${UNINSTALL_KEY}" "VirtualCamera"
  !ifdef VCAM_TOOL
    ${If} $virtualCamera == 1
      Call LeaveDeviceCategory
      !insertmacro Run '"$INSTDIR\ovalix-vcam.exe" register'
      ${If} $0 == 0
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VirtualCamera" 1
      ${Else}
        DetailPrint "The virtual camera was not registered ($0): applications find the phone through the capture filter."
        !ifdef FILTER
          !insertmacro RegisterFilter "$INSTDIR\ovalix_filter.dll" ${BITS}
        !endif
        !ifdef OTHER_FILTER
          ${If} ${On64BitWindows}
            !insertmacro RegisterFilter "$INSTDIR\${OTHER_DIR}\ovalix_filter.dll" ${OTHER_BITS}
          ${EndIf}
        !endif
      ${EndIf}
    ${EndIf}
  !endif

  ; "install" registers the service; over an older install it is registered
  ; already, with the same path, and nothing changes.
  !insertmacro Run '"$INSTDIR\OvalixSvc.exe" install'

  ; After a crash the service manager restarts the service after 5 s, 5 s and
  ; 30 s; a day without a failure starts the count again.
  !insertmacro Run '"$SYSDIR\sc.exe" failure ${SERVICE} reset= 86400 actions= restart/5000/restart/5000/restart/30000'
  ; The same actions as the service manager keeps them (reset period in
  ; seconds, no reboot message, no command, three actions from byte 20 on,
  ; each "restart" with its delay in ms), for a manager that accepts the
  ; call above without keeping it.
  WriteRegBin HKLM "${SERVICE_KEY}" "FailureActions" \
    8051010000000000000000000300000014000000010000008813000001000000881300000100000030750000

  ; Incoming connections on port 5055, from private and domain networks
  ; only. One rule by its name: deleted first, so that an upgrade never
  ; leaves two.
  Call RemoveFirewallRule
  !insertmacro Run '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${FIREWALL_RULE}" description="${FIREWALL_DESCRIPTION}" dir=in action=allow program="$INSTDIR\OvalixSvc.exe" protocol=TCP localport=5055 profile=private,domain enable=yes'
  ${If} $0 != 0
    DetailPrint "No firewall rule was added ($0): a phone can still use the cable or be found by DNS-SD."
  ${EndIf}

  ; The service starts now, as it will with every boot.
  !insertmacro Run '"$SYSDIR\net.exe" start ${SERVICE}'
  ${If} $0 != 0
    DetailPrint "The Ovalix service did not start ($0)."
    SetErrorLevel 3
  ${EndIf}

  !ifdef WEB
    ; The phone page's service: registered once (an upgrade keeps the
    ; registration, whose path is this folder's), started with the system,
    ; restarted after a failure as the connection manager is.
    !insertmacro Run '"$SYSDIR\sc.exe" create ${WEB_SERVICE} binPath= "\"$INSTDIR\ovalix-web.exe\" service" start= auto DisplayName= "Ovalix phone page"'
    !insertmacro Run '"$SYSDIR\sc.exe" description ${WEB_SERVICE} "Serves the Ovalix phone page, which makes the web browser of a phone the camera."'
    !insertmacro Run '"$SYSDIR\sc.exe" failure ${WEB_SERVICE} reset= 86400 actions= restart/5000/restart/5000/restart/30000'
    WriteRegBin HKLM "${WEB_SERVICE_KEY}" "FailureActions" \
      8051010000000000000000000300000014000000010000008813000001000000881300000100000030750000
    Call RemoveWebFirewallRule
    !insertmacro Run '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${WEB_FIREWALL_RULE}" description="${WEB_FIREWALL_DESCRIPTION}" dir=in action=allow program="$INSTDIR\ovalix-web.exe" protocol=TCP localport=5056 profile=private,domain enable=yes'
    ${If} $0 != 0
      DetailPrint "No firewall rule was added for the phone page ($0)."
    ${EndIf}
    !insertmacro Run '"$SYSDIR\net.exe" start ${WEB_SERVICE}'
    ${If} $0 != 0
      DetailPrint "The Ovalix phone page did not start ($0)."
      SetErrorLevel 3
    ${EndIf}
  !endif
SectionEnd

; ---------------------------------------------------------------------------
; Uninstallation

Function un.onInit
  SetShellVarContext all
  !insertmacro OwnRegView
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
  !insertmacro Run '"$SYSDIR\sc.exe" delete ${WEB_SERVICE}'
  Call un.RemoveFirewallRule
  Call un.RemoveWebFirewallRule

  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "VirtualCamera"
  ${If} $1 == 1
  ${AndIf} ${FileExists} "$INSTDIR\ovalix-vcam.exe"
    !insertmacro Run '"$INSTDIR\ovalix-vcam.exe" unregister'
  ${EndIf}
  !insertmacro UnregisterFilter "$INSTDIR\ovalix_filter.dll" ${BITS}
  !insertmacro UnregisterFilter "$INSTDIR\ovalix_vcam.dll" ${BITS}
  ${If} ${On64BitWindows}
    !insertmacro UnregisterFilter "$INSTDIR\${OTHER_DIR}\ovalix_filter.dll" ${OTHER_BITS}
    !insertmacro UnregisterFilter "$INSTDIR\${OTHER_DIR}\ovalix_vcam.dll" ${OTHER_BITS}
  ${EndIf}

  Delete "$INSTDIR\OvalixSvc.exe"
  Delete "$INSTDIR\ovalix-monitor.exe"
  Delete "$INSTDIR\OvalixViewer.exe"
  Delete "$INSTDIR\ovalix-snap.exe"
  Delete "$INSTDIR\ovalix-vcam.exe"
  Delete "$INSTDIR\ovalix-web.exe"
  ; Another camera application (or the camera frame server) may hold a
  ; filter or source: it goes at the next start.
  Delete /REBOOTOK "$INSTDIR\ovalix_filter.dll"
  Delete /REBOOTOK "$INSTDIR\ovalix_vcam.dll"
  Delete /REBOOTOK "$INSTDIR\${OTHER_DIR}\ovalix_filter.dll"
  Delete /REBOOTOK "$INSTDIR\${OTHER_DIR}\ovalix_vcam.dll"
  Delete "$INSTDIR\${OTHER_DIR}\ovalix-snap.exe"
  RMDir /REBOOTOK "$INSTDIR\${OTHER_DIR}"
  Delete "${MENU_FOLDER}\Ovalix Viewer.lnk"
  Delete "${MENU_FOLDER}\Connect a phone.url"
  RMDir "${MENU_FOLDER}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  ${If} $deleteTable == 1
    SetRegView 32
    DeleteRegKey HKLM "${TABLE_KEY}"
    !insertmacro OwnRegView
    ; The phone page's certificate, key and pairing code.
    RMDir /r "$APPDATA\Ovalix\web"
    RMDir "$APPDATA\Ovalix"
  ${EndIf}
  ; Last, so that its absence tells that the uninstaller is done.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
