# The demo package: qxupdater with a package of three synthetic images behind it, made by
# qxpack on every plain build (target qxupdater_demo_package; the file is
# <build>/qxupdater-demo). Run it with QXUPDATER_DEVICES=sim.
set(QX_DEMO_DIR ${CMAKE_BINARY_DIR}/demo)
set(QX_DEMO_PICTURE ${CMAKE_SOURCE_DIR}/app/resources/demo_background.jpg)
set(QX_DEMO_OUT ${CMAKE_BINARY_DIR}/qxupdater-demo${CMAKE_EXECUTABLE_SUFFIX})

# length | BuildInfo: slot 0 fits no drive, slot 1 fits the 42/A1B2/QX01 drives, slot 2 the
# 40/C3D4/QX02 drive.
set(QX_DEMO_IMAGES
    "150016|QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40Z9Z9,QX09"
    "150016|QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01"
    "150528|QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40C3D4,QX02")

set(QX_DEMO_IMAGE_FILES)
set(QX_DEMO_SLOT 0)
foreach(entry IN LISTS QX_DEMO_IMAGES)
  string(FIND "${entry}" "|" bar)
  string(SUBSTRING "${entry}" 0 ${bar} length)
  math(EXPR textStart "${bar} + 1")
  string(SUBSTRING "${entry}" ${textStart} -1 buildInfo)
  set(file ${QX_DEMO_DIR}/slot${QX_DEMO_SLOT}.bin)
  math(EXPR seed "${QX_DEMO_SLOT} + 1")
  add_custom_command(
    OUTPUT ${file}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QX_DEMO_DIR}
    COMMAND $<TARGET_FILE:qxpack> make-image --out ${file} --length ${length}
            --buildinfo "${buildInfo}" --seed ${seed}
    DEPENDS qxpack
    COMMENT "Making demo image ${QX_DEMO_SLOT}"
    VERBATIM)
  list(APPEND QX_DEMO_IMAGE_FILES ${file})
  math(EXPR QX_DEMO_SLOT "${QX_DEMO_SLOT} + 1")
endforeach()

# The package starts at 0x2FFE00, so the executable must stay below 3 MB: a debug build
# only fits without its symbols, hence a stripped copy.
set(QX_DEMO_EXE ${QX_DEMO_DIR}/qxupdater-stripped${CMAKE_EXECUTABLE_SUFFIX})
if(CMAKE_STRIP)
  set(QX_DEMO_STRIP_COMMAND COMMAND ${CMAKE_STRIP} ${QX_DEMO_EXE})
else()
  set(QX_DEMO_STRIP_COMMAND)
endif()

add_custom_command(
  OUTPUT ${QX_DEMO_OUT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QX_DEMO_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:qxupdater> ${QX_DEMO_EXE}
  ${QX_DEMO_STRIP_COMMAND}
  COMMAND $<TARGET_FILE:qxpack> build --exe ${QX_DEMO_EXE} --out ${QX_DEMO_OUT}
          --version 1.06 --product "QX Demo SSD" --picture ${QX_DEMO_PICTURE}
          ${QX_DEMO_IMAGE_FILES}
  COMMAND chmod 755 ${QX_DEMO_OUT}
  DEPENDS qxpack qxupdater ${QX_DEMO_IMAGE_FILES} ${QX_DEMO_PICTURE}
  COMMENT "Building qxupdater-demo"
  VERBATIM)
add_custom_target(qxupdater_demo_package ALL DEPENDS ${QX_DEMO_OUT})
