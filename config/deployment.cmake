# The deployment values of a build: the maker's endpoints, identifiers and expected signer.
# Each is a cache setting (-DNAME=VALUE or a preset in CMakePresets.json); this file checks
# them all at configure time and stops with one message that lists every missing or malformed
# one, so that a build can never ship with a placeholder. omk_deployment_sources() then writes
# them into the config library as the Config:: constants.
#
# A relative path in a path setting names a file of the build folder (the demo's PKI and
# product installer are made there at build time).

set(OMK_DEPLOYMENT_SETTINGS
  OMK_COMPONENT_SERVICE_URL OMK_FALLBACK_URL OMK_FALLBACK_MD5 OMK_FALLBACK_FILE
  OMK_ANALYTICS_PROPERTY_ID OMK_ANALYTICS_HOST OMK_ANALYTICS_PORT
  OMK_SIGNER_SERIAL OMK_SIGNER_ISSUER OMK_SIGNER_SUBJECT OMK_SIGNER_TRUST_STORE
  OMK_CA_BUNDLE OMK_LINK_REDIRECT_HOST OMK_DOWNLOAD_LIMIT)

set(OMK_COMPONENT_SERVICE_URL "" CACHE STRING
    "Component service: http or https URL whose path is /component")
set(OMK_FALLBACK_URL "" CACHE STRING
    "Product installer fetched when the component service gives no answer (http or https URL)")
set(OMK_FALLBACK_MD5 "" CACHE STRING
    "MD5 of the fallback product installer, 32 hex digits (or leave empty and give OMK_FALLBACK_FILE)")
set(OMK_FALLBACK_FILE "" CACHE STRING
    "The fallback product installer as published; its MD5 is taken when OMK_FALLBACK_MD5 is empty, and must match it otherwise")
set(OMK_ANALYTICS_PROPERTY_ID "" CACHE STRING "Analytics property id, UA-<account>-<property>")
set(OMK_ANALYTICS_HOST "" CACHE STRING "Host of the analytics collector (https, path /collect)")
set(OMK_ANALYTICS_PORT "443" CACHE STRING "Port of the analytics collector")
set(OMK_SIGNER_SERIAL "" CACHE STRING
    "Serial number of the maker's code-signing certificate in hex (colons and blanks allowed), 1-20 bytes")
set(OMK_SIGNER_ISSUER "" CACHE STRING "Common name of the issuer of the code-signing certificate")
set(OMK_SIGNER_SUBJECT "" CACHE STRING "Common name of the subject of the code-signing certificate")
set(OMK_SIGNER_TRUST_STORE "" CACHE STRING
    "PEM file on the user's machine with the root(s) the product installer's signature must chain to")
set(OMK_CA_BUNDLE "/etc/ssl/certs/ca-certificates.crt" CACHE STRING
    "PEM file on the user's machine with the roots trusted for https")
set(OMK_LINK_REDIRECT_HOST "" CACHE STRING
    "Host (and optional :port) of the installer page's licence, privacy and signature links")
set(OMK_DOWNLOAD_LIMIT "4294967296" CACHE STRING
    "Largest product installer a download accepts, in bytes (4 GiB by default)")

set(_omk_problems "")
macro(_omk_problem name text)
  string(APPEND _omk_problems "\n  ${name}: ${text}")
endmacro()

# Control characters have no place in any of the values (nor can they be written into a
# string literal as they are).
string(ASCII 1 _omk_c1)
string(ASCII 31 _omk_c31)
string(ASCII 127 _omk_c127)
set(_omk_control "[${_omk_c1}-${_omk_c31}${_omk_c127}]")

set(_omk_host_re "^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$")
set(_omk_url_re "^https?://[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]+)?(/[^ \"\\\\]*)$")

foreach(_name IN LISTS OMK_DEPLOYMENT_SETTINGS)
  if(NOT _name STREQUAL "OMK_FALLBACK_MD5" AND NOT _name STREQUAL "OMK_FALLBACK_FILE"
     AND "${${_name}}" STREQUAL "")
    get_property(_help CACHE ${_name} PROPERTY HELPSTRING)
    _omk_problem(${_name} "missing (${_help})")
  elseif("${${_name}}" MATCHES "${_omk_control}")
    _omk_problem(${_name} "holds a control character")
  endif()
endforeach()

if(NOT OMK_COMPONENT_SERVICE_URL STREQUAL "" AND
   NOT OMK_COMPONENT_SERVICE_URL MATCHES "^https?://[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]+)?/component$")
  _omk_problem(OMK_COMPONENT_SERVICE_URL "'${OMK_COMPONENT_SERVICE_URL}' is not an http(s) URL with the path /component")
endif()
if(NOT OMK_FALLBACK_URL STREQUAL "" AND NOT OMK_FALLBACK_URL MATCHES "${_omk_url_re}")
  _omk_problem(OMK_FALLBACK_URL "'${OMK_FALLBACK_URL}' is not an http(s) URL with a path")
endif()

# A relative path names a file of the build folder.
function(_omk_absolute out value)
  if(value STREQUAL "" OR IS_ABSOLUTE "${value}")
    set(${out} "${value}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_BINARY_DIR}/${value}" PARENT_SCOPE)
  endif()
endfunction()

# The fallback MD5: given, or the file's. A file that the build itself makes (in the build
# folder, not there yet) is hashed at build time.
set(OMK_DEPLOY_FALLBACK_MD5 "")
set(OMK_DEPLOY_FALLBACK_FILE "")
_omk_absolute(_omk_fallback_file "${OMK_FALLBACK_FILE}")
string(TOLOWER "${OMK_FALLBACK_MD5}" _omk_md5)
if(NOT _omk_md5 STREQUAL "" AND NOT _omk_md5 MATCHES "^[0-9a-f]+$")
  _omk_problem(OMK_FALLBACK_MD5 "'${OMK_FALLBACK_MD5}' is not hexadecimal")
elseif(NOT _omk_md5 STREQUAL "" AND NOT _omk_md5 MATCHES "^[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f]$")
  _omk_problem(OMK_FALLBACK_MD5 "'${OMK_FALLBACK_MD5}' is not 32 hex digits")
elseif(_omk_fallback_file STREQUAL "")
  if(_omk_md5 STREQUAL "")
    _omk_problem(OMK_FALLBACK_MD5 "missing (give it or OMK_FALLBACK_FILE, the file to compute it from)")
  endif()
  set(OMK_DEPLOY_FALLBACK_MD5 "${_omk_md5}")
elseif(EXISTS "${_omk_fallback_file}" AND NOT IS_DIRECTORY "${_omk_fallback_file}")
  file(MD5 "${_omk_fallback_file}" _omk_file_md5)
  # A changed file configures the build anew.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_omk_fallback_file}")
  if(NOT _omk_md5 STREQUAL "" AND NOT _omk_md5 STREQUAL _omk_file_md5)
    _omk_problem(OMK_FALLBACK_MD5 "${_omk_md5} is not the MD5 of OMK_FALLBACK_FILE (${_omk_file_md5})")
  endif()
  set(OMK_DEPLOY_FALLBACK_MD5 "${_omk_file_md5}")
else()
  file(RELATIVE_PATH _omk_rel "${CMAKE_BINARY_DIR}" "${_omk_fallback_file}")
  if(IS_DIRECTORY "${_omk_fallback_file}")
    _omk_problem(OMK_FALLBACK_FILE "'${_omk_fallback_file}' is a folder")
  elseif(_omk_rel MATCHES "^\\.\\./")
    _omk_problem(OMK_FALLBACK_FILE "no such file: '${_omk_fallback_file}'")
  elseif(NOT _omk_md5 STREQUAL "")
    _omk_problem(OMK_FALLBACK_FILE "'${_omk_fallback_file}' is made at build time; give OMK_FALLBACK_MD5 or OMK_FALLBACK_FILE, not both")
  endif()
  set(OMK_DEPLOY_FALLBACK_FILE "${_omk_fallback_file}")
endif()

if(NOT OMK_ANALYTICS_PROPERTY_ID STREQUAL "" AND NOT OMK_ANALYTICS_PROPERTY_ID MATCHES "^UA-[0-9]+-[0-9]+$")
  _omk_problem(OMK_ANALYTICS_PROPERTY_ID "'${OMK_ANALYTICS_PROPERTY_ID}' is not of the form UA-<digits>-<digits>")
endif()
if(NOT OMK_ANALYTICS_HOST STREQUAL "" AND NOT OMK_ANALYTICS_HOST MATCHES "${_omk_host_re}")
  _omk_problem(OMK_ANALYTICS_HOST "'${OMK_ANALYTICS_HOST}' is not a host name")
endif()
if(NOT OMK_ANALYTICS_PORT STREQUAL "")
  if(NOT OMK_ANALYTICS_PORT MATCHES "^[0-9]?[0-9]?[0-9]?[0-9]?[0-9]$" OR OMK_ANALYTICS_PORT LESS 1
     OR OMK_ANALYTICS_PORT GREATER 65535)
    _omk_problem(OMK_ANALYTICS_PORT "'${OMK_ANALYTICS_PORT}' is not a port number (1-65535)")
  endif()
endif()
if(NOT OMK_LINK_REDIRECT_HOST STREQUAL "" AND
   NOT OMK_LINK_REDIRECT_HOST MATCHES "^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]+)?$")
  _omk_problem(OMK_LINK_REDIRECT_HOST "'${OMK_LINK_REDIRECT_HOST}' is not a host name")
endif()

# The serial: big-endian bytes as the signature check reads them (without leading zero bytes,
# so "00 8F ..." as some tools print a positive serial is the same number).
set(OMK_DEPLOY_SERIAL_BYTES "")
if(NOT OMK_SIGNER_SERIAL STREQUAL "")
  string(REGEX REPLACE "[: \t]" "" _omk_serial "${OMK_SIGNER_SERIAL}")
  string(REGEX REPLACE "^0[xX]" "" _omk_serial "${_omk_serial}")
  string(LENGTH "${_omk_serial}" _omk_len)
  if(NOT _omk_serial MATCHES "^[0-9A-Fa-f]+$")
    _omk_problem(OMK_SIGNER_SERIAL "'${OMK_SIGNER_SERIAL}' is not hexadecimal")
  else()
    math(EXPR _omk_odd "${_omk_len} % 2")
    if(_omk_odd)
      string(PREPEND _omk_serial "0")
    endif()
    string(TOUPPER "${_omk_serial}" _omk_serial)
    string(REGEX REPLACE "^(00)+" "" _omk_serial "${_omk_serial}")
    string(LENGTH "${_omk_serial}" _omk_len)
    math(EXPR _omk_bytes "${_omk_len} / 2")
    if(_omk_bytes LESS 1 OR _omk_bytes GREATER 20)
      _omk_problem(OMK_SIGNER_SERIAL "'${OMK_SIGNER_SERIAL}' is ${_omk_bytes} bytes, not 1-20")
    else()
      string(REGEX REPLACE "(..)" "0x\\1, " OMK_DEPLOY_SERIAL_BYTES "${_omk_serial}")
      string(REGEX REPLACE ", $" "" OMK_DEPLOY_SERIAL_BYTES "${OMK_DEPLOY_SERIAL_BYTES}")
    endif()
  endif()
endif()

if(NOT OMK_DOWNLOAD_LIMIT STREQUAL "")
  # At most 18 digits keeps the value inside CMake's and the program's 64-bit arithmetic.
  if(NOT OMK_DOWNLOAD_LIMIT MATCHES "^[0-9]+$" OR OMK_DOWNLOAD_LIMIT MATCHES "^0+$"
     OR OMK_DOWNLOAD_LIMIT MATCHES "[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]")
    _omk_problem(OMK_DOWNLOAD_LIMIT "'${OMK_DOWNLOAD_LIMIT}' is not a byte count (1 to 18 digits)")
  endif()
endif()

if(NOT _omk_problems STREQUAL "")
  message(FATAL_ERROR "The deployment settings of this build are incomplete or malformed:"
    "${_omk_problems}\n"
    "Give them with -DNAME=VALUE (or -C with a file of set(NAME VALUE CACHE STRING \"\") lines); "
    "README.md, \"Shipping it\", describes each.")
endif()

# Numbers without leading zeros (a C++ literal would read them as octal).
math(EXPR OMK_DEPLOY_ANALYTICS_PORT "${OMK_ANALYTICS_PORT}")
math(EXPR OMK_DEPLOY_DOWNLOAD_LIMIT "${OMK_DOWNLOAD_LIMIT}")
_omk_absolute(OMK_DEPLOY_TRUST_STORE "${OMK_SIGNER_TRUST_STORE}")
_omk_absolute(OMK_DEPLOY_CA_BUNDLE "${OMK_CA_BUNDLE}")

# Text as the inside of a C++ string literal.
function(_omk_literal out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# Writes the constants into <binary dir>/deployment.cpp and returns the sources of the config
# library in <out>.
function(omk_deployment_sources out)
  _omk_literal(OMK_LIT_PROFILE "${OMK_PROFILE}")
  _omk_literal(OMK_LIT_CA_BUNDLE "${OMK_DEPLOY_CA_BUNDLE}")
  _omk_literal(OMK_LIT_TRUST_STORE "${OMK_DEPLOY_TRUST_STORE}")
  _omk_literal(OMK_LIT_ISSUER "${OMK_SIGNER_ISSUER}")
  _omk_literal(OMK_LIT_SUBJECT "${OMK_SIGNER_SUBJECT}")
  _omk_literal(OMK_LIT_ANALYTICS_HOST "${OMK_ANALYTICS_HOST}")
  _omk_literal(OMK_LIT_PROPERTY_ID "${OMK_ANALYTICS_PROPERTY_ID}")
  _omk_literal(OMK_LIT_SERVICE_URL "${OMK_COMPONENT_SERVICE_URL}")
  _omk_literal(OMK_LIT_FALLBACK_URL "${OMK_FALLBACK_URL}")
  set(OMK_LIT_ANALYTICS_PORT "${OMK_DEPLOY_ANALYTICS_PORT}")
  set(OMK_LIT_DOWNLOAD_LIMIT "${OMK_DEPLOY_DOWNLOAD_LIMIT}")
  set(OMK_LIT_SERIAL "${OMK_DEPLOY_SERIAL_BYTES}")
  set(sources ${CMAKE_CURRENT_BINARY_DIR}/deployment.cpp)
  if(OMK_DEPLOY_FALLBACK_FILE STREQUAL "")
    set(OMK_LIT_FALLBACK_MD5_INCLUDE "")
    set(OMK_LIT_FALLBACK_MD5 "L\"${OMK_DEPLOY_FALLBACK_MD5}\"")
  else()
    # Hashed when the build has made the file.
    set(header ${CMAKE_CURRENT_BINARY_DIR}/fallback_md5.h)
    add_custom_command(OUTPUT ${header}
      COMMAND ${CMAKE_COMMAND} -DIN=${OMK_DEPLOY_FALLBACK_FILE} -DOUT=${header}
              -P ${OMK_DEPLOYMENT_DIR}/fallback_md5.cmake
      DEPENDS ${OMK_DEPLOY_FALLBACK_FILE} ${OMK_DEPLOYMENT_DIR}/fallback_md5.cmake
      COMMENT "Taking the MD5 of the fallback product installer"
      VERBATIM)
    set(OMK_LIT_FALLBACK_MD5_INCLUDE "#include \"${header}\"")
    set(OMK_LIT_FALLBACK_MD5 "OMK_FALLBACK_FILE_MD5")
    list(APPEND sources ${header})
  endif()
  configure_file(${OMK_DEPLOYMENT_DIR}/deployment.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/deployment.cpp @ONLY)
  set(${out} ${sources} PARENT_SCOPE)
endfunction()
set(OMK_DEPLOYMENT_DIR ${CMAKE_CURRENT_LIST_DIR})
