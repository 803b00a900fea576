# cmake -DIN=<file> -DOUT=<header> -P fallback_md5.cmake: the fallback product installer's MD5
# as a wide string literal, for a file that the build itself makes.
file(MD5 "${IN}" digest)
set(text "// Made at build time: MD5 of ${IN}.\n#define OMK_FALLBACK_FILE_MD5 L\"${digest}\"\n")
# Rewritten only when it changes, so that an unchanged digest compiles nothing anew.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUT}" "${text}")
