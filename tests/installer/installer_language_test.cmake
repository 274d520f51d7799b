# What the Windows installer shows, read from its script: the generated NSIS
# script itself (-DNSIS_SCRIPT=.../project.nsi, after cpack) or CPack's
# settings and the template they fill (-DCPACK_CONFIG=.../CPackConfig.cmake).
# Brazilian Portuguese only, the project's own licence, the
# uninstall shortcut "Desinstalar", no English box left, and the registry's
# DisplayIcon naming the program, not a folder.
cmake_minimum_required(VERSION 3.25)

function(fail what)
  message(FATAL_ERROR "installer: ${what}")
endfunction()

if(DEFINED NSIS_SCRIPT)
  file(READ "${NSIS_SCRIPT}" script)
  string(REGEX MATCH "MUI_PAGE_LICENSE \"([^\"]+)\"" page "${script}")
  if(NOT page)
    fail("no licence page")
  endif()
  set(licence "${CMAKE_MATCH_1}")
  string(REGEX MATCH "Push \"DisplayIcon\"[\r\n\t ]+Push \"([^\"]*)\"" icon "${script}")
  set(icon "${CMAKE_MATCH_1}")
elseif(DEFINED CPACK_CONFIG)
  include("${CPACK_CONFIG}")
  set(template "")
  foreach(dir IN LISTS CPACK_MODULE_PATH)
    if(NOT template AND EXISTS "${dir}/NSIS.template.in")
      set(template "${dir}/NSIS.template.in")
    endif()
  endforeach()
  if(NOT template)
    fail("CMake's own NSIS template in use")
  endif()
  file(READ "${template}" script)
  set(licence "${CPACK_RESOURCE_FILE_LICENSE}")
  set(icon "$INSTDIR\\${CPACK_NSIS_INSTALLED_ICON_NAME}")
else()
  fail("NSIS_SCRIPT or CPACK_CONFIG is needed")
endif()

string(REGEX MATCHALL "insertmacro MUI_LANGUAGE \"[A-Za-z]+\"" languages "${script}")
if(NOT languages STREQUAL "insertmacro MUI_LANGUAGE \"PortugueseBR\"")
  fail("languages ${languages}, not PortugueseBR alone")
endif()
if(script MATCHES "Uninstall\\.lnk" OR NOT script MATCHES "\\\\Desinstalar\\.lnk\"")
  fail("the uninstall shortcut is not \"Desinstalar\"")
endif()
foreach(english "is already installed" "Uninstall failed")
  if(script MATCHES "${english}")
    fail("English box left: ${english}")
  endif()
endforeach()

# The licence: ours, in UTF-8 with its byte-order mark (makensis takes no
# Windows-1252 text on Linux, and without the mark it would read the accents
# in the code page of the machine that builds).
get_filename_component(licence_name "${licence}" NAME)
if(NOT licence_name STREQUAL "licenca.txt" OR NOT EXISTS "${licence}")
  fail("licence ${licence}")
endif()
file(READ "${licence}" text)
file(READ "${licence}" bytes HEX)
if(NOT text MATCHES "sem garantia" OR NOT bytes MATCHES "^efbbbf" OR NOT bytes MATCHES "c3a9")
  fail("${licence} is not the project's licence in UTF-8 with its mark")
endif()

if(NOT icon MATCHES "^\\$INSTDIR\\\\bin\\\\kavcomanda\\.exe$")
  fail("DisplayIcon is \"${icon}\", not the program")
endif()
