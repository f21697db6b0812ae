# Run by `cmake --install`, and so by CPack, once the package's files are in
# place (`release_programs` names the programs). When QLX_SIGN_PKCS12 names a
# code-signing certificate (a .p12 or .pfx file), each program is signed with
# Authenticode, SHA-256, by Debian's osslsigncode: the key's password is read
# from the file QLX_SIGN_PASSWORD_FILE names, if any, and the signature is
# time-stamped by the RFC 3161 server at QLX_SIGN_TIMESTAMP_URL, if any.
# SHA256SUMS, in the format `sha256sum -c` reads, is written afterwards, over
# the files as shipped. Without a certificate nothing is signed.
set(package_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

function(sign_programs)
  find_program(osslsigncode osslsigncode)
  if(NOT osslsigncode)
    message(FATAL_ERROR "QLX_SIGN_PKCS12 is set, but osslsigncode is not "
                        "installed (scripts/setup installs it)")
  endif()
  set(options -pkcs12 "$ENV{QLX_SIGN_PKCS12}" -h sha256)
  if(NOT "$ENV{QLX_SIGN_PASSWORD_FILE}" STREQUAL "")
    list(APPEND options -readpass "$ENV{QLX_SIGN_PASSWORD_FILE}")
  endif()
  if(NOT "$ENV{QLX_SIGN_TIMESTAMP_URL}" STREQUAL "")
    list(APPEND options -ts "$ENV{QLX_SIGN_TIMESTAMP_URL}")
  else()
    message(WARNING "QLX_SIGN_TIMESTAMP_URL is not set: the signatures carry "
                    "no time stamp and stop verifying once the certificate expires")
  endif()
  foreach(name IN LISTS release_programs)
    # Signed into a copy, which replaces the program only once complete.
    set(program "${package_dir}/${name}")
    file(REMOVE "${program}.signed")
    execute_process(COMMAND "${osslsigncode}" sign ${options} -in "${program}"
                            -out "${program}.signed"
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
      file(REMOVE "${program}.signed")
      message(FATAL_ERROR "could not sign ${name} with $ENV{QLX_SIGN_PKCS12}:\n${output}")
    endif()
    file(RENAME "${program}.signed" "${program}")
    message(STATUS "Signed: ${program}")
  endforeach()
endfunction()

if(NOT "$ENV{QLX_SIGN_PKCS12}" STREQUAL "")
  sign_programs()
endif()

set(sums "")
foreach(name IN LISTS release_programs ITEMS README.txt)
  file(SHA256 "${package_dir}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
message(STATUS "Installing: ${package_dir}/SHA256SUMS")
file(WRITE "${package_dir}/SHA256SUMS" "${sums}")
