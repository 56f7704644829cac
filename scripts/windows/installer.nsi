; The Quorvel installer: per user (no administrator rights), silent with /S.
; makensis -DVERSION=1.0 -DSTAGE=folder-of-the-program -DICON=quorvel.ico -DSIZE_KB=n -DOUTFILE=setup.exe installer.nsi
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel"

Name "Quorvel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quorvel"
InstallDirRegKey HKCU "Software\Quorvel" "InstallDir"
Icon "${ICON}"
UninstallIcon "${ICON}"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Quorvel"
VIAddVersionKey "FileDescription" "Quorvel setup"
VIAddVersionKey "CompanyName" "Team Brenvalde"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Team Brenvalde"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Quorvel"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${STAGE}/quorvel.exe"
    File "${STAGE}/quorvel-find.exe"
    File "${STAGE}/HAND-M.CUR"
    File "${STAGE}/drag.ico"
    File "${STAGE}/copyright.txt"
    SetOutPath "$INSTDIR\skins"
    File "${STAGE}/skins/slate.qss"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Quorvel.lnk" "$INSTDIR\quorvel.exe"
    WriteRegStr HKCU "Software\Quorvel" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Quorvel"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Team Brenvalde"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvel.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

; Only what the installer put there goes: the folder stays if the user keeps anything in it
; (a skin, say).
Section "Uninstall"
    SetShellVarContext current
    Delete "$SMPROGRAMS\Quorvel.lnk"
    Delete "$INSTDIR\quorvel.exe"
    Delete "$INSTDIR\quorvel-find.exe"
    Delete "$INSTDIR\HAND-M.CUR"
    Delete "$INSTDIR\drag.ico"
    Delete "$INSTDIR\copyright.txt"
    Delete "$INSTDIR\skins\slate.qss"
    RMDir "$INSTDIR\skins"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "Software\Quorvel"
SectionEnd
