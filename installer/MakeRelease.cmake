# Makes the release folder that administrators download: the package, the Group Policy
# templates laid out as in a policy store, and SHA256SUMS over all of it. Run in script mode:
#   cmake -D SETTINGS=<build>/installer/release-settings.cmake -D RELEASE_DIR=<folder>
#         [-D WORK_DIR=<folder>] -P MakeRelease.cmake
# SETTINGS (written by installer/Installer.cmake) names the built program and library, the
# packing tools and osslsigncode. The release is made in RELEASE_DIR with ".new" appended and
# takes RELEASE_DIR's place only when every step succeeded, so a failed run (a wrong password)
# leaves the last good release whole. WORK_DIR (default: RELEASE_DIR with "-work" appended)
# holds the intermediate files. Signing is set up from the environment at the time of the run:
#   PLAINRUN_SIGN_PFX               PKCS#12 file with the code-signing certificate and its key;
#                                   unset or empty: an unsigned release, said in one line
#   PLAINRUN_SIGN_PASSWORD          its password (handed to osslsigncode on standard input,
#                                   never on a command line)
#   PLAINRUN_SIGN_TIMESTAMP_URL     optional RFC 3161 time-stamping server
#   SOURCE_DATE_EPOCH               optional signing time (seconds since 1970), so that the
#                                   same files signed again with the same key are identical
cmake_minimum_required(VERSION 3.25)
foreach(var SETTINGS RELEASE_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "MakeRelease.cmake: -D ${var}=... is required")
  endif()
endforeach()
include(${SETTINGS})
include(${CMAKE_CURRENT_LIST_DIR}/PackMsi.cmake)
if(NOT WORK_DIR)
  set(WORK_DIR "${RELEASE_DIR}-work")
endif()
set(new "${RELEASE_DIR}.new")

# A stale file from an earlier run must never end up in the release or in its checksums.
file(REMOVE_RECURSE "${new}" "${WORK_DIR}")
file(MAKE_DIRECTORY "${new}" "${WORK_DIR}")

set(pfx "$ENV{PLAINRUN_SIGN_PFX}")
if(pfx)
  if(NOT EXISTS "${pfx}")
    message(FATAL_ERROR "release: PLAINRUN_SIGN_PFX names ${pfx}, which does not exist")
  endif()
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "release: signing needs osslsigncode (tools/install-deps.sh installs it)")
  endif()
endif()

# sign_or_copy(IN OUT): OUT is IN Authenticode-signed with SHA-256 when a certificate is
# configured, else an exact copy of IN. A configured certificate that cannot sign (a wrong
# password, an unreachable time-stamping server) fails the release rather than leaving a
# file unsigned.
function(sign_or_copy in out)
  if(NOT pfx)
    file(COPY_FILE "${in}" "${out}")
    return()
  endif()
  set(options -h sha256 -n "${PRODUCT_NAME}")
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    list(APPEND options -time "$ENV{SOURCE_DATE_EPOCH}")
  endif()
  if(NOT "$ENV{PLAINRUN_SIGN_TIMESTAMP_URL}" STREQUAL "")
    list(APPEND options -ts "$ENV{PLAINRUN_SIGN_TIMESTAMP_URL}")
  endif()
  # printenv hands the password over a pipe; an unset password reads as an empty one.
  execute_process(
    COMMAND printenv PLAINRUN_SIGN_PASSWORD
    COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "${pfx}" -readpass - ${options} -in "${in}" -out "${out}"
    RESULTS_VARIABLE results OUTPUT_VARIABLE output ERROR_VARIABLE output)
  list(GET results 1 result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "release: signing ${in} failed:\n${output}")
  endif()
endfunction()

# The program and the library are signed before they are packed, so that the installed
# files carry their own signatures.
sign_or_copy("${PROGRAM}" "${WORK_DIR}/plainrunctl.exe")
sign_or_copy("${TRACELIB}" "${WORK_DIR}/tracelib.dll")

set(msi_name plainrunctl-${VERSION}.msi)
plainrun_pack_msi("${WORK_DIR}/${msi_name}" "${VERSION}" "${WORK_DIR}/plainrunctl.exe" "${WORK_DIR}/tracelib.dll"
  "${WORK_DIR}/files")
sign_or_copy("${WORK_DIR}/${msi_name}" "${new}/${msi_name}")

# The templates as they are copied into a policy store: the .admx files at the top, each
# language's .adml files in a folder named after the language.
file(GLOB templates RELATIVE "${POLICY_DIR}" "${POLICY_DIR}/*.admx" "${POLICY_DIR}/*/*.adml")
foreach(template IN LISTS templates)
  get_filename_component(folder "${template}" DIRECTORY)
  file(COPY "${POLICY_DIR}/${template}" DESTINATION "${new}/PolicyDefinitions/${folder}")
endforeach()

# SHA256SUMS in the format `sha256sum -c` reads, one line per file with its path relative
# to the release folder, sorted.
file(GLOB_RECURSE files RELATIVE "${new}" "${new}/*")
list(SORT files)
set(sums "")
foreach(f IN LISTS files)
  file(SHA256 "${new}/${f}" hash)
  string(APPEND sums "${hash}  ${f}\n")
endforeach()
file(WRITE "${new}/SHA256SUMS" "${sums}")

# Every step succeeded: the new release takes the place of the last one.
file(REMOVE_RECURSE "${RELEASE_DIR}.old")
if(EXISTS "${RELEASE_DIR}")
  file(RENAME "${RELEASE_DIR}" "${RELEASE_DIR}.old")
endif()
file(RENAME "${new}" "${RELEASE_DIR}")
file(REMOVE_RECURSE "${RELEASE_DIR}.old")

if(pfx)
  message(NOTICE "release: ${RELEASE_DIR} (signed with ${pfx})")
else()
  message(NOTICE "release: UNSIGNED, PLAINRUN_SIGN_PFX is not set: ${RELEASE_DIR}")
endif()
