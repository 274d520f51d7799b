# What Windows shows of kavcomanda.exe: its icon and its version information
# in Brazilian Portuguese, read from the program's resource section
# (-DPROGRAM=kavcomanda.exe -DOBJDUMP=<MinGW objdump> -DVERSION=19.11).
cmake_minimum_required(VERSION 3.25)

string(REPLACE "objdump" "objcopy" objcopy "${OBJDUMP}")
set(rsrc "${CMAKE_CURRENT_BINARY_DIR}/kavcomanda-rsrc.bin")
execute_process(COMMAND "${objcopy}" -O binary --only-section=.rsrc "${PROGRAM}" "${rsrc}" RESULT_VARIABLE failed)
if(failed OR NOT EXISTS "${rsrc}")
  message(FATAL_ERROR "${PROGRAM}: no resource section")
endif()
file(READ "${rsrc}" bytes HEX)
file(REMOVE "${rsrc}")

# ASCII text as the resource holds it: UTF-16LE.
function(utf16 text out)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

function(expect what pattern)
  if(NOT bytes MATCHES "${pattern}")
    message(FATAL_ERROR "${PROGRAM}: ${what} missing")
  endif()
endfunction()

# The icon: a 32 x 32 picture in 32-bit colour (its BITMAPINFOHEADER).
expect("the icon" "280000002000000040000000010020")

# The fixed part: the signature, then the file version (major.minor.0.0).
string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 0 major)
list(GET parts 1 minor)
math(EXPR ms "(${major} << 16) | ${minor}" OUTPUT_FORMAT HEXADECIMAL)
string(REGEX REPLACE "^0x" "" ms "${ms}")
string(LENGTH "${ms}" n)
while(n LESS 8)
  string(PREPEND ms "0")
  math(EXPR n "${n} + 1")
endwhile()
string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" ms_le "${ms}")
expect("the version ${VERSION}" "bd04effe00000100${ms_le}00000000")

# The strings, in the Brazilian Portuguese block (0416, code page 1252).
utf16("041604E4" block)
expect("the pt-BR string block" "${block}")
foreach(pair "CompanyName=Orbela Teknovarium" "ProductName=KavComanda" "FileVersion=${VERSION}"
             "FileDescription=KavComanda - monitor de comandas" "OriginalFilename=kavcomanda.exe")
  string(REPLACE "=" ";" kv "${pair}")
  list(GET kv 0 key)
  list(GET kv 1 value)
  utf16("${key}" key_hex)
  utf16("${value}" value_hex)
  expect("${key} \"${value}\"" "${key_hex}0000(0000)?${value_hex}0000")
endforeach()
