# Windows tree: vfspd.exe, the Windows tests (run under Wine) and the small
# Windows helpers the end-to-end tests use.
set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")

add_library(vfspd_win STATIC
  ${VFSPD_CORE_SOURCES}
  engine/FSPDaemon.cpp
  engine/FileSystem.cpp
  engine/Access.cpp
  engine/NameResolver.cpp
  engine/OpenFiles.cpp
  engine/UploadCache.cpp
  engine/VolumeCopy.cpp
  engine/ListingJobs.cpp
  engine/handlers/Info.cpp
  engine/handlers/GetDirectory.cpp
  engine/handlers/GetFile.cpp
  engine/handlers/Upload.cpp
  engine/handlers/Namespace.cpp
  settings/RegistryKey.cpp
  settings/EventLog.cpp
  settings/Settings.cpp
  ui/Main.cpp
  ui/MainWindow.cpp
  ui/Dialogs.cpp
  ui/HostsDialog.cpp
  ui/Ctl3d.cpp
  ui/Help.cpp
)
target_compile_options(vfspd_win PRIVATE ${VFSPD_WARNINGS})
target_compile_definitions(vfspd_win PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_link_libraries(vfspd_win PUBLIC ws2_32 comctl32 gdi32 user32 advapi32 kernel32)

# The resource script pulls in the icon and the logo (ui/res/make_images.py).
set_source_files_properties(ui/vfspd.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_CURRENT_LIST_DIR}/../ui/res/fspd.ico;${CMAKE_CURRENT_LIST_DIR}/../ui/res/vrellogo.bmp;${CMAKE_CURRENT_LIST_DIR}/../ui/res/vfspd.manifest")
add_executable(vfspd WIN32 ui/Entry.cpp ui/vfspd.rc)
target_compile_options(vfspd PRIVATE ${VFSPD_WARNINGS})
target_link_libraries(vfspd PRIVATE vfspd_win)

# Posts WM_CLOSE to a running server's window, so tests stop it as an
# operator would.
add_executable(closewin tests/e2e/closewin.cpp)
target_compile_options(closewin PRIVATE ${VFSPD_WARNINGS})
target_link_libraries(closewin PRIVATE advapi32)

# Holds a file open with no sharing while a fault test runs.
add_executable(holdfile tests/e2e/holdfile.cpp)
target_compile_options(holdfile PRIVATE ${VFSPD_WARNINGS})

# Records the command lines the setup program gives netsh.
add_executable(recordargs tests/e2e/recordargs.cpp)
target_compile_options(recordargs PRIVATE ${VFSPD_WARNINGS})

# A DLL that marks where it was loaded; a test plants it beside a copy of
# vfspd.exe under a system DLL's name.
add_library(planted SHARED tests/e2e/planted.cpp)
target_compile_options(planted PRIVATE ${VFSPD_WARNINGS})
set_target_properties(planted PROPERTIES PREFIX "" LINK_FLAGS "-static -static-libgcc -static-libstdc++")

include(${CMAKE_CURRENT_LIST_DIR}/../bench/bench.cmake)

add_subdirectory(${GTEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)
include(${CMAKE_CURRENT_LIST_DIR}/../tests/windows/tests.cmake)

# The setup program, versioned by the program's own version text.
find_program(MAKENSIS makensis REQUIRED)
set(VFSPD_VERSION_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../engine/core/Policy.cpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VFSPD_VERSION_SOURCE})
file(STRINGS ${VFSPD_VERSION_SOURCE} VFSPD_VERSION REGEX "kVersionText.* v[0-9]")
string(REGEX REPLACE ".* v([^ ]+) .*" "\\1" VFSPD_VERSION "${VFSPD_VERSION}")
if(NOT VFSPD_VERSION MATCHES "^[0-9][0-9a-z.]*$")
  message(FATAL_ERROR "no version found in ${VFSPD_VERSION_SOURCE}")
endif()
set(VFSPD_NSIS_FLAGS -V2)
if(VFSPD_WERROR)
  list(APPEND VFSPD_NSIS_FLAGS -WX)
endif()
add_custom_command(OUTPUT vfspd-setup.exe
  COMMAND ${MAKENSIS} ${VFSPD_NSIS_FLAGS} -DEXE=$<TARGET_FILE:vfspd> -DVERSION=${VFSPD_VERSION}
          -DHELP=${CMAKE_CURRENT_BINARY_DIR}/VFSPD.CHM
          -DOUTFILE=${CMAKE_CURRENT_BINARY_DIR}/vfspd-setup.exe ${CMAKE_CURRENT_LIST_DIR}/../installer/vfspd.nsi
  DEPENDS vfspd installer/vfspd.nsi ui/res/fspd.ico ${CMAKE_CURRENT_BINARY_DIR}/VFSPD.CHM
  VERBATIM)
add_custom_target(setup ALL DEPENDS vfspd-setup.exe)

# The help file, VFSPD.CHM beside vfspd.exe, compiled from help/ with
# chmcmd (Debian package fp-utils), which writes beside the project file.
find_program(CHMCMD chmcmd REQUIRED)
file(GLOB VFSPD_HELP_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/../help/*)
add_custom_command(OUTPUT VFSPD.CHM
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_LIST_DIR}/../help help
  COMMAND ${CMAKE_COMMAND} -E chdir help ${CHMCMD} --no-html-scan vfspd.hhp
  COMMAND ${CMAKE_COMMAND} -E copy help/VFSPD.CHM VFSPD.CHM
  DEPENDS ${VFSPD_HELP_SOURCES}
  VERBATIM)
add_custom_target(helpfile ALL DEPENDS VFSPD.CHM)
