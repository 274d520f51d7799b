# The Windows installer (NSIS, 64-bit): the program and its tools, GNU Wget as
# C:\OrbelaTeknovarium\Kav\WGET.EXE when none is there, the folders the
# program expects (it creates none itself), a Start-menu shortcut that starts
# in the batch folder, and on request a shortcut that starts it with Windows.
# The uninstaller removes the program only: logs, spool and ERP files stay.
set(KAV_INSTALL_TARGETS kavcomanda kav_erpfile)
if(TARGET kav_spool)
  list(APPEND KAV_INSTALL_TARGETS kav_spool)
endif()
install(TARGETS ${KAV_INSTALL_TARGETS} RUNTIME DESTINATION bin)
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

# Values reach the NSIS script as written here.
set(CPACK_VERBATIM_VARIABLES ON)
set(KAV_BASE "C:\\OrbelaTeknovarium")
string(CONCAT CPACK_NSIS_EXTRA_INSTALL_COMMANDS
  "SetRegView 64\n"
  "CreateDirectory \"${KAV_BASE}\\Temp\"\n"
  "CreateDirectory \"${KAV_BASE}\\Kav\\Arquivos\"\n"
  "CreateDirectory \"${KAV_BASE}\\Spool\"\n"
  "CreateDirectory \"C:\\xampp\\htdocs\\Comandas\\FILES\"\n"
  "IfFileExists \"${KAV_BASE}\\Kav\\WGET.EXE\" kav_wget_done\n"
  "IfFileExists \"$INSTDIR\\wget\\WGET.EXE\" 0 kav_wget_done\n"
  "CopyFiles /SILENT \"$INSTDIR\\wget\\WGET.EXE\" \"${KAV_BASE}\\Kav\\WGET.EXE\"\n"
  "kav_wget_done:\n")
# "Start in" is the batch folder on drive C:, so that paths without a drive
# name drive C: wherever the shortcut lives.
string(CONCAT CPACK_NSIS_CREATE_ICONS_EXTRA
  "SetOutPath \"${KAV_BASE}\\Temp\"\n"
  "CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\KavComanda.lnk\" \"$INSTDIR\\bin\\kavcomanda.exe\"\n"
  "MessageBox MB_YESNO|MB_ICONQUESTION \"Iniciar o KavComanda junto com o Windows?\" /SD IDNO IDNO kav_no_autostart\n"
  "CreateShortCut \"$SMSTARTUP\\KavComanda.lnk\" \"$INSTDIR\\bin\\kavcomanda.exe\"\n"
  "kav_no_autostart:\n"
  "SetOutPath \"$INSTDIR\"\n")
string(CONCAT CPACK_NSIS_DELETE_ICONS_EXTRA
  "Delete \"$SMPROGRAMS\\$MUI_TEMP\\KavComanda.lnk\"\n"
  "Delete \"$SMSTARTUP\\KavComanda.lnk\"\n")
include(CPack)
