# The release package of the Windows build: qlxpatch.exe, the guide for the
# administrator who runs it, and SHA256SUMS over both, in one ZIP that
# `cmake --workflow --preset package` makes.
install(TARGETS qlxpatch RUNTIME DESTINATION .)
# The guide is shipped byte for byte as it is kept: ASCII with CR LF line ends.
install(FILES package/README.txt DESTINATION .)
# Written after the two files are in place, in the format `sha256sum -c` reads.
install(CODE [[
  set(package_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(sums "")
  foreach(name "$<TARGET_FILE_NAME:qlxpatch>" README.txt)
    file(SHA256 "${package_dir}/${name}" hash)
    string(APPEND sums "${hash}  ${name}\n")
  endforeach()
  message(STATUS "Installing: ${package_dir}/SHA256SUMS")
  file(WRITE "${package_dir}/SHA256SUMS" "${sums}")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME qlxpatch)
set(CPACK_PACKAGE_FILE_NAME qlxpatch-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OV Quellmark ${PROJECT_VERSION} patch")
# One commit, one ZIP: CPack's ZIP is rewritten in a fixed form once made.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(CPACK_QLX_PYTHON ${Python3_EXECUTABLE})
set(CPACK_QLX_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/reproducible_zip.cmake)
include(CPack)
