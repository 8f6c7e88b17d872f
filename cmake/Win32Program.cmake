# The Windows utility: the native Win32 front end (app/win32) over the core, one static
# executable qxupdater.exe (only system DLLs imported), its tests run under Wine, and the
# demo package qxupdater-demo.exe made by the build machine's own qxpack.
enable_language(RC)

file(GLOB QX_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/win32/*.cpp)
list(FILTER QX_WIN32_SOURCES EXCLUDE REGEX "/WinMain\\.cpp$")
add_library(qxwin32 STATIC ${QX_WIN32_SOURCES})
target_link_libraries(qxwin32 PUBLIC qxcore comctl32 comdlg32 gdi32 ole32 windowscodecs uuid)
target_compile_definitions(qxwin32 PUBLIC UNICODE _UNICODE)
target_compile_options(qxwin32 PRIVATE ${QX_WARNINGS} -ffunction-sections -fdata-sections)

# Static runtime, no console, no symbols: one file that travels alone.
set(QX_WIN32_LINK_OPTIONS -static -mwindows -Wl,--gc-sections $<$<CONFIG:Release,MinSizeRel>:-s>)

add_executable(qxupdater WIN32 ${CMAKE_SOURCE_DIR}/app/win32/WinMain.cpp ${CMAKE_SOURCE_DIR}/app/win32/qxupdater.rc)
target_link_libraries(qxupdater PRIVATE qxwin32)
target_link_options(qxupdater PRIVATE ${QX_WIN32_LINK_OPTIONS})
set_source_files_properties(${CMAKE_SOURCE_DIR}/app/win32/qxupdater.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/app/win32/Forms.rc;${CMAKE_SOURCE_DIR}/app/win32/qxupdater.manifest;${CMAKE_SOURCE_DIR}/app/resources/icon_default.ico")

# The packaging tool runs on the build machine: the native build's qxpack (the default
# preset's, unless QX_HOST_QXPACK names another).
set(QX_HOST_QXPACK "${CMAKE_SOURCE_DIR}/build/default/qxpack" CACHE FILEPATH "Native qxpack for the demo package")
if(NOT TARGET qxpack AND EXISTS "${QX_HOST_QXPACK}")
  add_executable(qxpack IMPORTED)
  set_target_properties(qxpack PROPERTIES IMPORTED_LOCATION "${QX_HOST_QXPACK}")
endif()
if(TARGET qxpack)
  include(${CMAKE_SOURCE_DIR}/cmake/DemoPackage.cmake)
endif()

# The front end's tests, in-process under Wine (window messages carry pointers).
if(QX_BUILD_TESTS)
  file(GLOB QX_WIN32_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
  add_executable(qxwin32_tests WIN32 ${QX_WIN32_TESTS} ${CMAKE_SOURCE_DIR}/tests/win32/tests.rc)
  target_link_libraries(qxwin32_tests PRIVATE qxwin32 qxtestsupport)
  target_include_directories(qxwin32_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  # A console program (test output), with the windows' resources.
  target_link_options(qxwin32_tests PRIVATE -static -mconsole)
endif()
