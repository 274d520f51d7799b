# The Windows installer (NSIS, 64-bit): the program and its tools, GNU Wget as
# C:\OrbelaTeknovarium\Kav\WGET.EXE (always its own), the folders the
# program expects (it creates none itself), a Start-menu shortcut that starts
# in the batch folder, and on request a shortcut that starts it with Windows.
# The installer sets the rights on what the monitor runs and writes (below);
# the uninstaller removes the program only: logs, spool and ERP files stay,
# with their rights.
set(KAV_INSTALL_TARGETS kavcomanda kav_erpfile)
if(TARGET kav_spool)
  list(APPEND KAV_INSTALL_TARGETS kav_spool)
endif()
install(TARGETS ${KAV_INSTALL_TARGETS} RUNTIME DESTINATION bin)
# The commented sample of the configuration file, laid out in KAV when none
# is there (an existing one is never overwritten).
install(FILES "${PROJECT_SOURCE_DIR}/cmake/kavcomanda.ini" DESTINATION share)
if(EXISTS "${KAV_WINDOWS_WGET}")
  install(FILES "${KAV_WINDOWS_WGET}" DESTINATION wget RENAME WGET.EXE)
  install(FILES "${KAV_WINDOWS_DEPS}/wget/COPYING" DESTINATION wget OPTIONAL)
else()
  message(WARNING "No ${KAV_WINDOWS_WGET}: the installer will not carry GNU Wget (run scripts/windows-deps.sh)")
endif()
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION .)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME KavComanda)
set(CPACK_PACKAGE_VENDOR "Orbela Teknovarium")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Monitor de comandas")
set(CPACK_PACKAGE_INSTALL_DIRECTORY KavComanda)
set(CPACK_PACKAGE_FILE_NAME "KavComanda-${PROJECT_VERSION}-win64")
set(CPACK_NSIS_DEFINES "Target amd64-unicode")  # 64-bit installer, no 32-bit Wine needed
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "KavComanda")
set(CPACK_NSIS_PACKAGE_NAME "KavComanda ${PROJECT_VERSION}")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_UNINSTALL_NAME "Desinstalar")
# The licence page shows the project's own text (UTF-8 with its byte-order
# mark, which makensis reads whatever the build machine's locale); the program's
# icon stands for it under "Programs and Features".
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/cmake/licenca.txt")
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\kavcomanda.exe")
set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/src/ui/win32/kavcomanda.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/src/ui/win32/kavcomanda.ico")

# The installer speaks Brazilian Portuguese only: CMake's own NSIS template,
# with its languages cut down to PortugueseBR, its uninstall shortcut named
# "Desinstalar" and its English boxes in Portuguese, is used in its place
# (CPack looks for NSIS.template.in on CMAKE_MODULE_PATH first).
set(KAV_NSIS_TEMPLATE_DIR "${PROJECT_BINARY_DIR}/nsis-template")
file(READ "${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in" kav_template)
string(REGEX REPLACE "(  !insertmacro MUI_LANGUAGE \"[A-Za-z]+\"[^\n]*\n)+"
       "  !insertmacro MUI_LANGUAGE \"PortugueseBR\"\n" kav_template "${kav_template}")
string(REPLACE "\\Uninstall.lnk" "\\Desinstalar.lnk" kav_template "${kav_template}")
# Accented letters as NSIS's own ${U+...}: the script stays ASCII.
string(REPLACE "is already installed. $\\n$\\nDo you want to uninstall the old version before installing the new one?"
       "j\${U+00E1} est\${U+00E1} instalado.$\\n$\\nDesinstalar a vers\${U+00E3}o antiga antes de instalar a nova?"
       kav_template "${kav_template}")
string(REPLACE "\"Uninstall failed.\"" "\"A desinstala\${U+00E7}\${U+00E3}o falhou.\"" kav_template "${kav_template}")
# An upgrade keeps the autostart the earlier install chose: before the old
# uninstaller runs (it removes the StartUp shortcut, silent or not), whether
# that shortcut stands is noted, for the current user or all users; the
# shortcut section below then makes it again, or not, without asking.
string(REPLACE "  Var IS_DEFAULT_INSTALLDIR\n"
       "  Var IS_DEFAULT_INSTALLDIR\n  Var KAV_EARLIER\n  Var KAV_AUTOSTART\n" kav_template "${kav_template}")
string(CONCAT kav_note_autostart
  "  StrCmp $0 \"\" inst\n"
  "  StrCpy $KAV_EARLIER 1\n"
  "  IfFileExists \"$SMSTARTUP\\KavComanda.lnk\" 0 +2\n"
  "  StrCpy $KAV_AUTOSTART 1\n"
  "  SetShellVarContext all\n"
  "  IfFileExists \"$SMSTARTUP\\KavComanda.lnk\" 0 +2\n"
  "  StrCpy $KAV_AUTOSTART 1\n"
  "  SetShellVarContext current\n")
string(REPLACE "  StrCmp $0 \"\" inst\n" "${kav_note_autostart}" kav_template "${kav_template}")
foreach(kav_check "MUI_LANGUAGE \"PortugueseBR\"" "Desinstalar.lnk" "Desinstalar a vers" "desinstala" "Var KAV_EARLIER"
        "StrCpy $KAV_EARLIER 1")
  string(FIND "${kav_template}" "${kav_check}" kav_at)
  if(kav_at LESS 0)
    message(FATAL_ERROR "CMake's NSIS template has changed: no place for ${kav_check}")
  endif()
endforeach()
file(WRITE "${KAV_NSIS_TEMPLATE_DIR}/NSIS.template.in" "${kav_template}")
list(PREPEND CMAKE_MODULE_PATH "${KAV_NSIS_TEMPLATE_DIR}")

# Values reach the NSIS script as written here.
set(CPACK_VERBATIM_VARIABLES ON)
set(KAV_BASE "C:\\OrbelaTeknovarium")

# Rights. The monitor runs KAV\WGET.EXE through batch files it writes into
# Temp; a folder made at the root of C: lets every authenticated user change
# it, and so run their own program with the rights of whoever runs the
# monitor. So: the root and KAV break the inheritance from C:, and WGET.EXE
# and everything in KAV are changed by Administrators and SYSTEM only (users
# read and run). What the program and the ERP write stays writable by users:
# Temp (batch files, answers, locks), Spool, KAV\Arquivos (the ERP's files),
# the daily logs at the root, and the web application's FILES folder when
# this installer made it (one made by the web server's installer keeps its
# own rights). Users may add entries to those folders and change what is in
# them, but not delete or rename the folders themselves. Accounts are named
# by well-known SIDs, the same in every language of Windows.
set(KAV_ADMINS "*S-1-5-32-544")
set(KAV_SYSTEM "*S-1-5-18")
set(KAV_USERS "*S-1-5-32-545")
set(KAV_RIGHTS "")
# One icacls run by the installer; a failure adds the path to $R7.
function(kav_icacls path)
  string(JOIN " " arguments ${ARGN})
  string(APPEND KAV_RIGHTS
    "nsExec::ExecToLog '\"$SYSDIR\\icacls.exe\" \"${path}\" ${arguments}'\n"
    "Pop $R8\n"
    "StrCmp $R8 0 +2\n"
    "StrCpy $R7 \"$R7 ${path}\"\n")
  set(KAV_RIGHTS "${KAV_RIGHTS}" PARENT_SCOPE)
endfunction()
# Only Administrators and SYSTEM change it: explicit entries of earlier
# hands are dropped (/reset), then the inherited ones (/inheritance:r).
function(kav_locked path inherit)
  # Owned by Administrators, everything under it too: an owner may always
  # change the rights back, so a folder or WGET.EXE made earlier by a user
  # must not stay that user's.
  kav_icacls("${path}" /setowner "${KAV_ADMINS}" /T /C)
  kav_icacls("${path}" /reset)
  kav_icacls("${path}" /inheritance:r /grant:r "${KAV_ADMINS}:${inherit}(F)" "${KAV_SYSTEM}:${inherit}(F)"
             "${KAV_USERS}:${inherit}(RX)")
  set(KAV_RIGHTS "${KAV_RIGHTS}" PARENT_SCOPE)
endfunction()
# Users add files and folders to it and change whatever is in it.
function(kav_writable path)
  kav_icacls("${path}" /setowner "${KAV_ADMINS}")
  kav_icacls("${path}" /grant "${KAV_USERS}:(WD,AD)")
  kav_icacls("${path}" /grant "${KAV_USERS}:(OI)(CI)(IO)(M)")
  set(KAV_RIGHTS "${KAV_RIGHTS}" PARENT_SCOPE)
endfunction()
string(APPEND KAV_RIGHTS "StrCpy $R7 \"\"\n")
kav_locked("${KAV_BASE}" "(OI)(CI)")
# The daily logs: users create them at the root and write to them.
kav_icacls("${KAV_BASE}" /grant "${KAV_USERS}:(WD)")
kav_icacls("${KAV_BASE}" /grant "${KAV_USERS}:(OI)(IO)(NP)(W)")
kav_locked("${KAV_BASE}\\Kav" "(OI)(CI)")
string(APPEND KAV_RIGHTS "IfFileExists \"${KAV_BASE}\\Kav\\WGET.EXE\" 0 kav_no_wget\n")
kav_locked("${KAV_BASE}\\Kav\\WGET.EXE" "")
string(APPEND KAV_RIGHTS "kav_no_wget:\n")
kav_writable("${KAV_BASE}\\Temp")
kav_writable("${KAV_BASE}\\Spool")
kav_writable("${KAV_BASE}\\Kav\\Arquivos")
string(APPEND KAV_RIGHTS "StrCmp $R9 1 0 kav_files_kept\n")
kav_icacls("C:\\xampp\\htdocs\\Comandas\\FILES" /grant "${KAV_USERS}:(OI)(CI)(M)")
string(APPEND KAV_RIGHTS
  "kav_files_kept:\n"
  # Folders that stood before this install (made by someone, perhaps a
  # user): they are Administrators' now, and the installer says so.
  "StrCmp $R6 \"\" kav_owners_told\n"
  "DetailPrint \"Pastas que j\${U+00E1} existiam, agora do grupo Administradores:$R6\"\n"
  "MessageBox MB_OK|MB_ICONINFORMATION \"Estas pastas j\${U+00E1} existiam antes da instala\${U+00E7}\${U+00E3}o e podiam ter outro dono:$R6$\\r$\\n"
  "O dono agora \${U+00E9} o grupo Administradores e as permiss\${U+00F5}es foram refeitas.\" /SD IDOK\n"
  "kav_owners_told:\n"
  "StrCmp $R7 \"\" kav_rights_done\n"
  "DetailPrint \"icacls falhou em:$R7\"\n"
  # Accented letters as NSIS's own ${U+...}: the script stays ASCII.
  "MessageBox MB_OK|MB_ICONEXCLAMATION \"As permiss\${U+00F5}es n\${U+00E3}o puderam ser ajustadas em:$R7$\\r$\\n"
  "Ajuste-as com icacls (veja o README).\" /SD IDOK\n"
  "kav_rights_done:\n")

string(CONCAT CPACK_NSIS_EXTRA_INSTALL_COMMANDS
  "SetRegView 64\n"
  "StrCpy $R6 \"\"\n"
  "IfFileExists \"${KAV_BASE}\\*.*\" 0 +2\n"
  "StrCpy $R6 \"$R6 ${KAV_BASE}\"\n"
  "IfFileExists \"${KAV_BASE}\\Kav\\*.*\" 0 +2\n"
  "StrCpy $R6 \"$R6 ${KAV_BASE}\\Kav\"\n"
  "IfFileExists \"${KAV_BASE}\\Temp\\*.*\" 0 +2\n"
  "StrCpy $R6 \"$R6 ${KAV_BASE}\\Temp\"\n"
  "IfFileExists \"${KAV_BASE}\\Spool\\*.*\" 0 +2\n"
  "StrCpy $R6 \"$R6 ${KAV_BASE}\\Spool\"\n"
  "CreateDirectory \"${KAV_BASE}\\Temp\"\n"
  "CreateDirectory \"${KAV_BASE}\\Kav\\Arquivos\"\n"
  "CreateDirectory \"${KAV_BASE}\\Spool\"\n"
  "StrCpy $R9 0\n"
  "IfFileExists \"C:\\xampp\\htdocs\\Comandas\\FILES\\*.*\" +3 0\n"
  "CreateDirectory \"C:\\xampp\\htdocs\\Comandas\\FILES\"\n"
  "StrCpy $R9 1\n"
  # Always its own WGET.EXE: one found there may be anyone's program.
  "IfFileExists \"$INSTDIR\\wget\\WGET.EXE\" 0 kav_wget_done\n"
  "Delete \"${KAV_BASE}\\Kav\\WGET.EXE\"\n"
  "CopyFiles /SILENT \"$INSTDIR\\wget\\WGET.EXE\" \"${KAV_BASE}\\Kav\\WGET.EXE\"\n"
  "kav_wget_done:\n"
  "IfFileExists \"${KAV_BASE}\\Kav\\kavcomanda.ini\" kav_ini_done\n"
  "CopyFiles /SILENT \"$INSTDIR\\share\\kavcomanda.ini\" \"${KAV_BASE}\\Kav\\kavcomanda.ini\"\n"
  "kav_ini_done:\n"
  "${KAV_RIGHTS}")
# The Event Log's source: the program holds its message table, so events
# read as the monitor wrote them; the uninstaller removes the source.
set(KAV_EVENT_SOURCE "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\KavComanda")
string(APPEND CPACK_NSIS_EXTRA_INSTALL_COMMANDS
  "WriteRegExpandStr HKLM \"${KAV_EVENT_SOURCE}\" \"EventMessageFile\" \"$INSTDIR\\bin\\kavcomanda.exe\"\n"
  "WriteRegDWORD HKLM \"${KAV_EVENT_SOURCE}\" \"TypesSupported\" 7\n")
string(APPEND CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
  "SetRegView 64\n"
  "DeleteRegKey HKLM \"${KAV_EVENT_SOURCE}\"\n")
# "Start in" is the batch folder on drive C:, so that paths without a drive
# name drive C: wherever the shortcut lives.
string(CONCAT CPACK_NSIS_CREATE_ICONS_EXTRA
  "SetOutPath \"${KAV_BASE}\\Temp\"\n"
  "CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\KavComanda.lnk\" \"$INSTDIR\\bin\\kavcomanda.exe\"\n"
  # An upgrade keeps the earlier choice (see .onInit); a first install asks,
  # and a silent first install leaves the autostart off.
  "StrCmp $KAV_EARLIER 1 0 kav_ask_autostart\n"
  "StrCmp $KAV_AUTOSTART 1 kav_autostart kav_no_autostart\n"
  "kav_ask_autostart:\n"
  "MessageBox MB_YESNO|MB_ICONQUESTION \"Iniciar o KavComanda junto com o Windows?\" /SD IDNO IDNO kav_no_autostart\n"
  "kav_autostart:\n"
  "CreateShortCut \"$SMSTARTUP\\KavComanda.lnk\" \"$INSTDIR\\bin\\kavcomanda.exe\"\n"
  "kav_no_autostart:\n"
  "SetOutPath \"$INSTDIR\"\n")
string(CONCAT CPACK_NSIS_DELETE_ICONS_EXTRA
  "Delete \"$SMPROGRAMS\\$MUI_TEMP\\KavComanda.lnk\"\n"
  "Delete \"$SMSTARTUP\\KavComanda.lnk\"\n")
include(CPack)
