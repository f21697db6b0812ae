# The release package of the Windows build: the programs, the guide for the
# administrator who runs them, and SHA256SUMS over all of them, in one ZIP
# that `cmake --workflow --preset package` makes (docs/packaging.md).

# The programs the package ships, one line each. The build preset "package"
# builds them through release_programs, and the install signs them when a
# certificate is given (cmake/release_files.cmake).
set(QLX_RELEASE_PROGRAMS qlxpatch)
if(TARGET qlxcheck)
  list(APPEND QLX_RELEASE_PROGRAMS qlxcheck)
endif()
add_custom_target(release_programs)
add_dependencies(release_programs ${QLX_RELEASE_PROGRAMS})

install(TARGETS ${QLX_RELEASE_PROGRAMS} RUNTIME DESTINATION .)
# The guide is shipped byte for byte as it is kept: ASCII with CR LF line ends.
install(FILES package/README.txt DESTINATION .)
# Once the files are in place: signed, when asked, then summed.
list(TRANSFORM QLX_RELEASE_PROGRAMS REPLACE "(.+)" "$<TARGET_FILE_NAME:\\1>"
     OUTPUT_VARIABLE program_names)
install(CODE "set(release_programs \"${program_names}\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/release_files.cmake)

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
