# CLI11 and nlohmann-json: header-only Debian packages (libcli11-dev, nlohmann-json3-dev).
# A cross build must not search the build machine's /usr/include as a whole, so the two
# header folders are linked into a folder of their own that every build uses.
set(QX_HEADER_DEPS_DIR ${CMAKE_BINARY_DIR}/header-deps)
file(MAKE_DIRECTORY ${QX_HEADER_DEPS_DIR})
foreach(dep nlohmann CLI)
  if(NOT EXISTS /usr/include/${dep})
    message(FATAL_ERROR "/usr/include/${dep} is missing: install libcli11-dev and nlohmann-json3-dev")
  endif()
  if(NOT EXISTS ${QX_HEADER_DEPS_DIR}/${dep})
    file(CREATE_LINK /usr/include/${dep} ${QX_HEADER_DEPS_DIR}/${dep} SYMBOLIC)
  endif()
endforeach()
add_library(qx_header_deps INTERFACE)
target_include_directories(qx_header_deps SYSTEM INTERFACE ${QX_HEADER_DEPS_DIR})
