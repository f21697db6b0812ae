# Builds qlxpatch.exe a second time, from a copy of the source tree in another
# directory with its own build tree, and fails unless the two exes, their
# SHA256SUMS and their ZIPs are byte for byte the same and neither tree's path
# is written in the exe.
#
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DCPACK=... -DEXE=... -DWORK_DIR=... -P reproducible_release.cmake
cmake_minimum_required(VERSION 3.25)
unset(ENV{QLX_SIGN_PKCS12})  # a signature holds its time: only the unsigned release repeats

# Runs the command in the directory; fails with its output when it fails.
function(run_in directory)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${directory}" RESULT_VARIABLE status
                  OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${status}):\n${output}")
  endif()
endfunction()

function(expect_same_file what first second)
  file(SHA256 "${first}" first_hash)
  file(SHA256 "${second}" second_hash)
  if(NOT first_hash STREQUAL second_hash)
    message(FATAL_ERROR "${what} differs between the two builds:\n"
                        "  ${first_hash}  ${first}\n  ${second_hash}  ${second}")
  endif()
  message(STATUS "${what}: ${first_hash} in both builds")
endfunction()

function(expect_no_path exe path)
  file(STRINGS "${exe}" found REGEX "${path}")
  if(found)
    message(FATAL_ERROR "${exe} names the build's directory ${path}: ${found}")
  endif()
endfunction()

# The second source tree: every top-level entry but the build trees and git's.
set(copy "${WORK_DIR}/elsewhere/qlxpatch")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${copy}")
file(GLOB entries LIST_DIRECTORIES true RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
list(REMOVE_ITEM entries build .git)
foreach(entry IN LISTS entries)
  file(COPY "${SOURCE_DIR}/${entry}" DESTINATION "${copy}")
endforeach()

# The same presets in the copy: its build tree is under the copy.
run_in("${copy}" ${CMAKE_COMMAND} --preset mingw-i686)
run_in("${copy}" ${CMAKE_COMMAND} --build --preset package)
set(second_binary_dir "${copy}/build/mingw-i686")
get_filename_component(exe_name "${EXE}" NAME)

expect_same_file("${exe_name}" "${EXE}" "${second_binary_dir}/${exe_name}")
foreach(path "${SOURCE_DIR}" "${BINARY_DIR}" "${copy}")
  expect_no_path("${EXE}" "${path}")
endforeach()

# The shipped folder and the ZIP of each build.
foreach(build first second)
  if(build STREQUAL first)
    set(tree "${BINARY_DIR}")
  else()
    set(tree "${second_binary_dir}")
  endif()
  run_in("${tree}" ${CMAKE_COMMAND} --install . --prefix "${WORK_DIR}/${build}/files")
  run_in("${tree}" ${CPACK} --config CPackConfig.cmake -B "${WORK_DIR}/${build}/zip")
  file(GLOB ${build}_zip "${WORK_DIR}/${build}/zip/*.zip")
endforeach()
expect_same_file(SHA256SUMS "${WORK_DIR}/first/files/SHA256SUMS"
                 "${WORK_DIR}/second/files/SHA256SUMS")
expect_same_file(ZIP "${first_zip}" "${second_zip}")
