# Windows tree: vfspd.exe, the Windows tests (run under Wine) and the small
# Windows helpers the end-to-end tests use.
set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")

add_library(vfspd_win STATIC
  ${VFSPD_CORE_SOURCES}
  engine/FSPDaemon.cpp
  engine/UploadCache.cpp
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
  ui/Ctl3d.cpp
)
target_compile_options(vfspd_win PRIVATE ${VFSPD_WARNINGS})
target_compile_definitions(vfspd_win PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_link_libraries(vfspd_win PUBLIC ws2_32 gdi32 user32 advapi32 kernel32)

# The resource script pulls in the icon and the logo (ui/res/make_images.py).
set_source_files_properties(ui/vfspd.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_CURRENT_LIST_DIR}/../ui/res/fspd.ico;${CMAKE_CURRENT_LIST_DIR}/../ui/res/vrellogo.bmp")
add_executable(vfspd WIN32 ui/Entry.cpp ui/vfspd.rc)
target_compile_options(vfspd PRIVATE ${VFSPD_WARNINGS})
target_link_libraries(vfspd PRIVATE vfspd_win)

# Posts WM_CLOSE to a running server's window, so tests stop it as an
# operator would.
add_executable(closewin tests/e2e/closewin.cpp)
target_compile_options(closewin PRIVATE ${VFSPD_WARNINGS})

# Holds a file open with no sharing while a fault test runs.
add_executable(holdfile tests/e2e/holdfile.cpp)
target_compile_options(holdfile PRIVATE ${VFSPD_WARNINGS})

include(${CMAKE_CURRENT_LIST_DIR}/../bench/bench.cmake)

add_subdirectory(${GTEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)
include(${CMAKE_CURRENT_LIST_DIR}/../tests/windows/tests.cmake)
