# The release for administrators: `cmake --build <dir> --target release` makes <dir>/release/
# with the package (program, library and package Authenticode-signed when PLAINRUN_SIGN_PFX
# names a certificate), PolicyDefinitions/ and SHA256SUMS; installer/MakeRelease.cmake does
# the work and lists the environment variables it reads. Included after Installer.cmake.
find_program(PLAINRUN_OSSLSIGNCODE osslsigncode)

# What the release is made from, in a file that the release script (and the release test,
# which makes releases of its own elsewhere) includes.
set(PLAINRUN_RELEASE_SETTINGS ${CMAKE_BINARY_DIR}/installer/release-settings.cmake)
set(PLAINRUN_RELEASE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/MakeRelease.cmake)
file(GENERATE OUTPUT ${PLAINRUN_RELEASE_SETTINGS} CONTENT
"set(PROGRAM [==[$<TARGET_FILE:plainrunctl>]==])
set(TRACELIB [==[$<TARGET_FILE:tracelib>]==])
set(WIXL [==[${PLAINRUN_WIXL}]==])
set(OSSLSIGNCODE [==[${PLAINRUN_OSSLSIGNCODE}]==])
set(WXS_DIR [==[${plainrun_msi_wxs_dir}]==])
set(VERSION [==[${PLAINRUN_MSI_VERSION}]==])
set(PRODUCT_NAME [==[${PLAINRUN_MSI_PRODUCT_NAME}]==])
set(POLICY_DIR [==[${PROJECT_SOURCE_DIR}/policy]==])
")

# Always runs: whether the release is signed depends on the environment of this build, not
# on anything a build system could track.
add_custom_target(release
  COMMAND ${CMAKE_COMMAND} -D SETTINGS=${PLAINRUN_RELEASE_SETTINGS} -D RELEASE_DIR=${CMAKE_BINARY_DIR}/release
          -P ${PLAINRUN_RELEASE_SCRIPT}
  COMMENT "Making the release in ${CMAKE_BINARY_DIR}/release"
  VERBATIM)
add_dependencies(release plainrunctl tracelib)
