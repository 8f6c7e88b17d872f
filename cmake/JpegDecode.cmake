# The toolkit-free JPEG decoder (app/core/JpegDecode): a small library of its own rather than a
# part of qxcore, so the core and the front ends that show no picture (the command-line
# tool) carry no libjpeg, and the Windows build, which decodes with the system's codec,
# none at all. The Qt window (app/qt/JpegPicture) and the fuzz target link it.
if(NOT WIN32)
  find_package(JPEG REQUIRED)
  add_library(qxjpeg STATIC ${CMAKE_SOURCE_DIR}/app/core/JpegDecode.cpp ${CMAKE_SOURCE_DIR}/app/core/JpegDecode.h)
  target_include_directories(qxjpeg PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(qxjpeg PUBLIC JPEG::JPEG)
  target_compile_options(qxjpeg PRIVATE ${QX_WARNINGS})

  if(QX_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING)
    file(GLOB QX_PICTURE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/picture/*_test.cpp)
    foreach(t IN LISTS QX_PICTURE_TESTS)
      get_filename_component(name ${t} NAME_WE)
      add_executable(${name} ${t})
      target_link_libraries(${name} PRIVATE qxjpeg qxtestsupport)
      gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/testrun
                           DISCOVERY_TIMEOUT 60)
    endforeach()
  endif()
endif()
