# The release for administrators: `cmake --build <dir> --target release` makes <dir>/release/
# with the package (program, library and package Authenticode-signed when PLAINRUN_SIGN_PFX
# names a certificate), PolicyDefinitions/ and SHA256SUMS; installer/MakeRelease.cmake does
# the work and lists the environment variables it reads. Included after Installer.cmake,
# which writes the settings it reads.
set(PLAINRUN_RELEASE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/MakeRelease.cmake)

# Always runs: whether the release is signed depends on the environment of this build, not
# on anything a build system could track.
add_custom_target(release
  COMMAND ${CMAKE_COMMAND} -D SETTINGS=${PLAINRUN_RELEASE_SETTINGS} -D RELEASE_DIR=${CMAKE_BINARY_DIR}/release
          -P ${PLAINRUN_RELEASE_SCRIPT}
  COMMENT "Making the release in ${CMAKE_BINARY_DIR}/release"
  VERBATIM)
add_dependencies(release plainrunctl tracelib)
