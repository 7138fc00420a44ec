; The Teliox installer: Teliox.exe with its libraries and language libraries into Program Files,
; SNDWD.exe with its libraries into Common Files\VL (where Teliox.exe looks for it: a 32-bit
; program, and this installer is one, is given "Program Files (x86)\Common Files" on 64-bit
; Windows by both), a Start-menu entry and start at log-on for the current user, an uninstaller.
; Running programs are asked to close with the registered "PX_CloseApplication" message (0xA0 for
; Teliox, 99 for SNDWD) before files are replaced or removed. Built by `./run package`:
;   makensis -DVERSION=1.0.0 -DTELIOX_DIR=... -DSNDWD_DIR=... -DLAUNCHER=... -DICON=... -DOUTFILE=... teliox.nsi
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh

!ifndef VERSION
  !define VERSION 1.0.0
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Teliox"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "Teliox"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Teliox"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Teliox"
VIAddVersionKey /LANG=0 "FileDescription" "Teliox setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Teliox"

!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(RunTeliox)"
!define MUI_FINISHPAGE_RUN_FUNCTION StartTeliox
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The five languages of the programs; the one matching the user's language is chosen by itself.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "TradChinese"
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Dutch"

LangString RunTeliox ${LANG_ENGLISH} "Start Teliox now"
LangString RunTeliox ${LANG_TRADCHINESE} "立即啟動 Teliox"
LangString RunTeliox ${LANG_JAPANESE} "Teliox を今すぐ起動する"
LangString RunTeliox ${LANG_FRENCH} "Démarrer Teliox maintenant"
LangString RunTeliox ${LANG_DUTCH} "Teliox nu starten"
LangString Closing ${LANG_ENGLISH} "Closing Teliox and its audio device manager..."
LangString Closing ${LANG_TRADCHINESE} "正在關閉 Teliox 及其音效裝置管理程式..."
LangString Closing ${LANG_JAPANESE} "Teliox とオーディオ デバイス マネージャーを終了しています..."
LangString Closing ${LANG_FRENCH} "Fermeture de Teliox et de son gestionnaire de périphériques audio..."
LangString Closing ${LANG_DUTCH} "Teliox en zijn audioapparaatbeheer worden afgesloten..."
LangString StillRunning ${LANG_ENGLISH} "Teliox is still running. Close it from its tray icon, then choose Retry."
LangString StillRunning ${LANG_TRADCHINESE} "Teliox 仍在執行。請從系統匣圖示關閉它，然後選擇「重試」。"
LangString StillRunning ${LANG_JAPANESE} "Teliox はまだ実行中です。通知領域のアイコンから終了してから、[再試行] を選んでください。"
LangString StillRunning ${LANG_FRENCH} "Teliox est toujours en cours d'exécution. Fermez-le depuis son icône de la zone de notification, puis choisissez Réessayer."
LangString StillRunning ${LANG_DUTCH} "Teliox is nog actief. Sluit het af via het pictogram in het systeemvak en kies daarna Opnieuw."
LangString Uninstall ${LANG_ENGLISH} "Uninstall Teliox"
LangString Uninstall ${LANG_TRADCHINESE} "解除安裝 Teliox"
LangString Uninstall ${LANG_JAPANESE} "Teliox のアンインストール"
LangString Uninstall ${LANG_FRENCH} "Désinstaller Teliox"
LangString Uninstall ${LANG_DUTCH} "Teliox verwijderen"

; Asks both programs to close and waits up to ten seconds for them to be gone: Teliox by its
; single-instance mutex "Teliox", the manager by its window titled "SNDWD". $0 is 1 when gone.
!macro CLOSE_PROGRAMS un
Function ${un}ClosePrograms
  Push $1
  Push $2
  Push $3
  System::Call 'user32::RegisterWindowMessageW(w "PX_CloseApplication") i .r1'
  StrCpy $0 0
  StrCpy $3 0
  ${Do}
    ; Posted to every top-level window (the message is registered: only the programs know it),
    ; once a second, so a program whose window was still being made hears it too.
    IntOp $2 $3 % 4
    ${If} $2 = 0
      System::Call 'user32::PostMessageW(p 0xffff, i r1, p 0xA0, p 0)'
      System::Call 'user32::PostMessageW(p 0xffff, i r1, p 99, p 0)'
    ${EndIf}
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Teliox") p .r2'
    ${If} $2 P<> 0
      System::Call 'kernel32::CloseHandle(p r2)'
    ${Else}
      FindWindow $2 "" "SNDWD"
      ${If} $2 = 0
        StrCpy $0 1
        ${ExitDo}
      ${EndIf}
    ${EndIf}
    IntOp $3 $3 + 1
    ${If} $3 > 40
      ${ExitDo}
    ${EndIf}
    Sleep 250
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro CLOSE_PROGRAMS ""
!insertmacro CLOSE_PROGRAMS "un."

!macro ENSURE_CLOSED un
  DetailPrint "$(Closing)"
  ${Do}
    Call ${un}ClosePrograms
    ${If} $0 = 1
      ${ExitDo}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(StillRunning)" /SD IDCANCEL IDRETRY +2
    Abort
  ${Loop}
!macroend

Section "Teliox" Main
  SectionIn RO
  !insertmacro ENSURE_CLOSED ""

  SetOutPath "$INSTDIR"
  File "${TELIOX_DIR}/Teliox.exe"
  File "${TELIOX_DIR}/Hidmar.dll"
  File "${TELIOX_DIR}/TarvoAPIDLL.dll"
  File "${TELIOX_DIR}/T40ENG_VL.dll"
  File "${TELIOX_DIR}/T40CHT_VL.dll"
  File "${TELIOX_DIR}/T40JPN_Qor.dll"
  File "${TELIOX_DIR}/T40FRA_Bex.dll"
  File "${TELIOX_DIR}/T40DUT_Bex.dll"

  SetOutPath "$COMMONFILES\VL"
  File "${SNDWD_DIR}/SNDWD.exe"
  File "${SNDWD_DIR}/Sonvane.dll"
  File "${SNDWD_DIR}/Swd_Eng.dll"
  File "${SNDWD_DIR}/Swd_Jpn.dll"
  File "${SNDWD_DIR}/Swd_Fra.dll"
  File "${SNDWD_DIR}/Swd_Dut.dll"

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The current user's Start menu and log-on start.
  SetShellVarContext current
  CreateDirectory "$SMPROGRAMS\Teliox"
  CreateShortcut "$SMPROGRAMS\Teliox\Teliox.lnk" "$INSTDIR\Teliox.exe"
  CreateShortcut "$SMPROGRAMS\Teliox\$(Uninstall).lnk" "$INSTDIR\Uninstall.exe"
  WriteRegStr HKCU "${RUN_KEY}" "Teliox" '"$INSTDIR\Teliox.exe"'

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Teliox"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Teliox.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Started at the user's normal level, never with the installer's elevated rights.
Function StartTeliox
  InitPluginsDir
  File "/oname=$PLUGINSDIR\run-unelevated.exe" "${LAUNCHER}"
  ExecWait '"$PLUGINSDIR\run-unelevated.exe" "$INSTDIR\Teliox.exe"'
FunctionEnd

Section "Uninstall"
  !insertmacro ENSURE_CLOSED "un."

  Delete "$INSTDIR\Teliox.exe"
  Delete "$INSTDIR\Hidmar.dll"
  Delete "$INSTDIR\TarvoAPIDLL.dll"
  Delete "$INSTDIR\T40ENG_VL.dll"
  Delete "$INSTDIR\T40CHT_VL.dll"
  Delete "$INSTDIR\T40JPN_Qor.dll"
  Delete "$INSTDIR\T40FRA_Bex.dll"
  Delete "$INSTDIR\T40DUT_Bex.dll"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$COMMONFILES\VL\SNDWD.exe"
  Delete "$COMMONFILES\VL\Sonvane.dll"
  Delete "$COMMONFILES\VL\Swd_Eng.dll"
  Delete "$COMMONFILES\VL\Swd_Jpn.dll"
  Delete "$COMMONFILES\VL\Swd_Fra.dll"
  Delete "$COMMONFILES\VL\Swd_Dut.dll"
  RMDir "$COMMONFILES\VL"

  SetShellVarContext current
  Delete "$SMPROGRAMS\Teliox\Teliox.lnk"
  Delete "$SMPROGRAMS\Teliox\$(Uninstall).lnk"
  RMDir "$SMPROGRAMS\Teliox"
  DeleteRegValue HKCU "${RUN_KEY}" "Teliox"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The user's settings under HKCU\Software\VORLANE stay, for a later installation.
SectionEnd
