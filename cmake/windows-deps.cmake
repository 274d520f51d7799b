# Dependencies of the Windows build, made from Debian's packages by
# scripts/windows-deps.sh: the SQLite amalgamation and GNU Wget for Windows.
# GoogleTest is built here from Debian's sources.
set(KAV_WINDOWS_DEPS "${PROJECT_SOURCE_DIR}/build-windows-deps" CACHE PATH
    "Folder of the Windows dependencies (scripts/windows-deps.sh)")

if(NOT EXISTS "${KAV_WINDOWS_DEPS}/sqlite/sqlite3.c")
  message(FATAL_ERROR "No SQLite amalgamation in ${KAV_WINDOWS_DEPS}/sqlite: run scripts/windows-deps.sh first")
endif()
enable_language(C)
add_library(kav_sqlite3 STATIC "${KAV_WINDOWS_DEPS}/sqlite/sqlite3.c")
target_include_directories(kav_sqlite3 SYSTEM PUBLIC "${KAV_WINDOWS_DEPS}/sqlite")
target_compile_definitions(kav_sqlite3 PRIVATE SQLITE_OMIT_LOAD_EXTENSION SQLITE_THREADSAFE=1)
target_compile_options(kav_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS kav_sqlite3)

if(KAV_BUILD_TESTS AND NOT TARGET GTest::gtest_main)
  set(KAV_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian: googletest)")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KAV_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

set(KAV_WINDOWS_WGET "${KAV_WINDOWS_DEPS}/wget/wget.exe")
