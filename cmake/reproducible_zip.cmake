# Run by CPack once it has written the ZIP: rewrites it so that one commit
# gives the same ZIP whenever and wherever it is made (cmake/reproducible_zip.py),
# every entry dated SOURCE_DATE_EPOCH when set, else 1980-01-01 00:00:00.
set(epoch 315532800)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
endif()
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  execute_process(
    COMMAND "${CPACK_QLX_PYTHON}" -B "${CPACK_QLX_SOURCE_DIR}/cmake/reproducible_zip.py" "${zip}" ${epoch}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not rewrite ${zip} reproducibly")
  endif()
endforeach()
