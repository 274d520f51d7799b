# The rights the Windows installer sets, read from the installer script: the
# generated NSIS script itself (-DNSIS_SCRIPT=.../project.nsi, after cpack)
# or the commands CPack puts into it (-DCPACK_CONFIG=.../CPackConfig.cmake).
# Wine does not enforce rights (and its icacls does nothing), so what is
# checked is the script: every icacls line with its arguments, in order,
# each one's failure noticed, WGET.EXE's lines only when it is there, the
# web application's FILES folder only when the installer made it, and
# nothing of it in the uninstaller.
cmake_minimum_required(VERSION 3.25)

if(DEFINED NSIS_SCRIPT)
  file(READ "${NSIS_SCRIPT}" script)
  string(FIND "${script}" "Section \"-Core installation\"" core_begin)
  if(core_begin LESS 0)
    message(FATAL_ERROR "${NSIS_SCRIPT}: no installation section")
  endif()
  string(SUBSTRING "${script}" ${core_begin} -1 install)
  string(FIND "${install}" "\nSectionEnd" core_end)
  string(SUBSTRING "${install}" 0 ${core_end} install)
  # Nowhere else: not in the uninstaller, which leaves the kept data's rights alone.
  string(REGEX MATCHALL "icacls" everywhere "${script}")
  string(REGEX MATCHALL "icacls" in_install "${install}")
  list(LENGTH everywhere n_everywhere)
  list(LENGTH in_install n_install)
  if(NOT n_everywhere EQUAL n_install)
    message(FATAL_ERROR "icacls outside the installation section (${n_everywhere} in all, ${n_install} in it)")
  endif()
elseif(DEFINED CPACK_CONFIG)
  include("${CPACK_CONFIG}")
  set(install "${CPACK_NSIS_EXTRA_INSTALL_COMMANDS}")
  if(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS MATCHES "icacls")
    message(FATAL_ERROR "the uninstaller runs icacls")
  endif()
else()
  message(FATAL_ERROR "NSIS_SCRIPT or CPACK_CONFIG is needed")
endif()

set(admins "*S-1-5-32-544")
set(system "*S-1-5-18")
set(users "*S-1-5-32-545")
set(root "C:\\OrbelaTeknovarium")
set(locked_tree "/inheritance:r /grant:r ${admins}:(OI)(CI)(F) ${system}:(OI)(CI)(F) ${users}:(OI)(CI)(RX)")
# Path, then the arguments, in the order they run.
set(owned "/setowner ${admins} /T /C")
set(expected
  "${root}|${owned}"
  "${root}|/reset"
  "${root}|${locked_tree}"
  "${root}|/grant ${users}:(WD)"
  "${root}|/grant ${users}:(OI)(IO)(NP)(W)"
  "${root}\\Kav|${owned}"
  "${root}\\Kav|/reset"
  "${root}\\Kav|${locked_tree}"
  "${root}\\Kav\\WGET.EXE|${owned}"
  "${root}\\Kav\\WGET.EXE|/reset"
  "${root}\\Kav\\WGET.EXE|/inheritance:r /grant:r ${admins}:(F) ${system}:(F) ${users}:(RX)"
  "${root}\\Temp|/setowner ${admins}"
  "${root}\\Temp|/grant ${users}:(WD,AD)"
  "${root}\\Temp|/grant ${users}:(OI)(CI)(IO)(M)"
  "${root}\\Spool|/setowner ${admins}"
  "${root}\\Spool|/grant ${users}:(WD,AD)"
  "${root}\\Spool|/grant ${users}:(OI)(CI)(IO)(M)"
  "${root}\\Kav\\Arquivos|/setowner ${admins}"
  "${root}\\Kav\\Arquivos|/grant ${users}:(WD,AD)"
  "${root}\\Kav\\Arquivos|/grant ${users}:(OI)(CI)(IO)(M)"
  "C:\\xampp\\htdocs\\Comandas\\FILES|/grant ${users}:(OI)(CI)(M)")

# Every run: icacls from the system folder, the path quoted, its exit status
# taken and, when not 0, the path added to the list the installer reports.
set(call "nsExec::ExecToLog '\"\\$SYSDIR\\\\icacls\\.exe\" \"([^\"\n]*)\" ([^'\n]*)'")
set(check "\nPop \\$R8\nStrCmp \\$R8 0 \\+2\nStrCpy \\$R7 \"\\$R7 ([^\"\n]*)\"\n")
string(REGEX MATCHALL "icacls\\.exe" calls "${install}")
string(REGEX MATCHALL "${call}${check}" blocks "${install}")
list(LENGTH calls n_calls)
list(LENGTH blocks n_blocks)
if(NOT n_calls EQUAL n_blocks)
  message(FATAL_ERROR "${n_calls} icacls runs, ${n_blocks} of them with their failure noticed")
endif()
set(found "")
foreach(block IN LISTS blocks)
  string(REGEX MATCH "${call}${check}" _ "${block}")
  if(NOT CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_3)
    message(FATAL_ERROR "a failure on ${CMAKE_MATCH_1} is reported as one on ${CMAKE_MATCH_3}")
  endif()
  list(APPEND found "${CMAKE_MATCH_1}|${CMAKE_MATCH_2}")
endforeach()
if(NOT found STREQUAL expected)
  string(REPLACE ";" "\n  " found_lines "${found}")
  string(REPLACE ";" "\n  " expected_lines "${expected}")
  message(FATAL_ERROR "icacls runs:\n  ${found_lines}\nexpected:\n  ${expected_lines}")
endif()

# The text between `from` and `to` holds `what`, and nothing outside it does.
function(only_between from to what)
  string(FIND "${install}" "${from}" begin)
  string(FIND "${install}" "${to}" end)
  if(begin LESS 0 OR end LESS begin)
    message(FATAL_ERROR "no \"${from}\" ... \"${to}\"")
  endif()
  string(SUBSTRING "${install}" ${begin} ${end}-${begin} inside)
  string(REPLACE "${inside}" "" outside "${install}")
  if(NOT inside MATCHES "${what}" OR outside MATCHES "${what}")
    message(FATAL_ERROR "\"${what}\" is not only between \"${from}\" and \"${to}\"")
  endif()
endfunction()
only_between("IfFileExists \"${root}\\Kav\\WGET.EXE\" 0 kav_no_wget" "kav_no_wget:" "WGET\\.EXE\" /")
only_between("StrCmp $R9 1 0 kav_files_kept" "kav_files_kept:" "FILES\" /grant")
# $R9 is 1 only when FILES was missing and the installer made it.
if(NOT install MATCHES "StrCpy \\$R9 0\nIfFileExists \"C:\\\\xampp\\\\htdocs\\\\Comandas\\\\FILES\\\\\\*\\.\\*\" \\+3 0\nCreateDirectory \"C:\\\\xampp\\\\htdocs\\\\Comandas\\\\FILES\"\nStrCpy \\$R9 1\n")
  message(FATAL_ERROR "FILES is not marked as made by the installer only when it made it")
endif()
# Its own WGET.EXE always: one found in place is replaced, never kept.
if(NOT install MATCHES "Delete \"C:\\\\OrbelaTeknovarium\\\\Kav\\\\WGET\\.EXE\"\nCopyFiles /SILENT \"\\$INSTDIR\\\\wget\\\\WGET\\.EXE\"")
  message(FATAL_ERROR "an existing WGET.EXE is kept")
endif()
# Folders that stood before the install are told at its end.
if(NOT install MATCHES "StrCmp \\$R6 \"\" kav_owners_told\n[^\n]*\nMessageBox [^\n]*\\$R6")
  message(FATAL_ERROR "folders that existed before are not reported")
endif()
# Failures are reported, never passed over in silence.
if(NOT install MATCHES "StrCmp \\$R7 \"\" kav_rights_done\n[^\n]*\nMessageBox [^\n]*\\$R7")
  message(FATAL_ERROR "a failed icacls is not reported")
endif()
list(LENGTH found n)
message(STATUS "installer rights: ${n} icacls runs as expected")
