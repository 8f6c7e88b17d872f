# The Linux back-end's system libraries and the tests that need a mock device tree.
#
# Disks are listed through libudev. Its tests run on umockdev's device trees: the preload
# library (put in front by umockdev-wrapper, used as the tests' executor) sends every sysfs
# and /dev access of libudev into a testbed that each test process makes in a fresh
# temporary folder of its own, so the cases run in parallel.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QX_UDEV REQUIRED IMPORTED_TARGET libudev)
target_link_libraries(qxcore PUBLIC PkgConfig::QX_UDEV)

if(QX_BUILD_TESTS)
  pkg_check_modules(QX_UMOCKDEV IMPORTED_TARGET umockdev-1.0)
  find_program(QX_UMOCKDEV_WRAPPER umockdev-wrapper)
  find_program(QX_ENV env)
  file(GLOB QX_UDEV_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/linux/udev/*_test.cpp)
  if(QX_UMOCKDEV_FOUND AND QX_UMOCKDEV_WRAPPER AND QX_ENV AND QX_UDEV_TESTS)
    foreach(t IN LISTS QX_UDEV_TESTS)
      get_filename_component(name ${t} NAME_WE)
      add_executable(${name} ${t})
      target_link_libraries(${name} PRIVATE qxtestsupport PkgConfig::QX_UMOCKDEV)
      # The sanitizer runtime must accept the preload library in front of it, also while the
      # tests are listed.
      set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
                            "${QX_ENV};ASAN_OPTIONS=verify_asan_link_order=0;${QX_UMOCKDEV_WRAPPER}")
      gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/testrun
                           DISCOVERY_TIMEOUT 60)
    endforeach()
  else()
    message(WARNING "umockdev not found: the udev discovery tests are not built")
  endif()
endif()

# The checker that scripts/ci-vm.sh runs inside its virtual machine on QEMU's disks
# (docs/vm-tests.md). Not a CTest test: it refuses to run outside that machine.
# Its judge (tests/vm/check_vm.py) is tested here on the output of a recorded run.
if(QX_BUILD_TESTS)
  add_executable(qxvmcheck ${CMAKE_SOURCE_DIR}/tests/vm/vmcheck.cpp)
  target_link_libraries(qxvmcheck PRIVATE qxcore qx_header_deps)
  target_compile_options(qxvmcheck PRIVATE ${QX_WARNINGS})
  find_program(QX_PYTHON3 python3)
  if(QX_PYTHON3)
    add_test(NAME vm_judge COMMAND ${QX_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/vm/check_vm_test.py)
    set_tests_properties(vm_judge PROPERTIES
                         ENVIRONMENT "QX_VM_TEST_CLI=$<TARGET_FILE:qxupdater-cli>")
  endif()
endif()
