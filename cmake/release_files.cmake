# Run by `cmake --install`, and so by CPack, once the package's files are in
# place (`release_programs` names the programs): writes SHA256SUMS, in the
# format `sha256sum -c` reads, over the files as shipped.
set(package_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

set(sums "")
foreach(name IN LISTS release_programs ITEMS README.txt)
  file(SHA256 "${package_dir}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
message(STATUS "Installing: ${package_dir}/SHA256SUMS")
file(WRITE "${package_dir}/SHA256SUMS" "${sums}")
