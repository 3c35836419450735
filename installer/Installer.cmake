# The Windows Installer package, built with wixl: `cmake --build <dir> --target msi` makes
# plainrunctl-<version>.msi in the build folder from the program, the logging library and
# every string file in data/. Included once the plainrunctl and tracelib targets exist.
find_program(PLAINRUN_WIXL wixl REQUIRED)
find_program(PLAINRUN_MSIBUILD msibuild REQUIRED)
# Signs the release when a certificate is configured (installer/MakeRelease.cmake).
find_program(PLAINRUN_OSSLSIGNCODE osslsigncode)
# The package is sealed through libmsi's bindings, which Debian installs for its own Python.
find_program(PLAINRUN_MSI_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

set(PLAINRUN_MSI_VERSION ${PROJECT_VERSION} CACHE STRING
  "Version of the package the msi target makes (major.minor.build)")
set(PLAINRUN_MSI_PRODUCT_NAME "DERVO Outlook Connector switch")
# The UpgradeCode never changes: it is how a newer package finds and replaces an older one,
# and each version's ProductCode is derived from it (installer/PackMsi.cmake).
set(PLAINRUN_MSI_UPGRADE_CODE "{B6F2C54C-D67B-4C03-8491-F02448E39299}")
set(PLAINRUN_MSI_HELP_LINK "https://www.orvane.com/dervo/deploying" CACHE STRING
  "Where Programs and Features' help link points: the administrator's guide, docs/deploying.md")

include(${CMAKE_CURRENT_LIST_DIR}/Shortcuts.cmake)

# wixl finds a File's Source only by a path relative to the folder it runs in (or the .wxs
# file's folder; here they are the same), never by an absolute one.
set(plainrun_msi_wxs_dir ${CMAKE_BINARY_DIR}/installer)

# The string files are listed when CMake configures; a build that finds data/ changed runs
# CMake again, so an added or removed file is packed or dropped without a manual step.
file(GLOB plainrun_msi_data_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/*.xml)
list(SORT plainrun_msi_data_files)
set(PLAINRUN_MSI_DATA_COMPONENTS "")
set(PLAINRUN_MSI_DATA_REFS "")
foreach(file IN LISTS plainrun_msi_data_files)
  get_filename_component(name ${file} NAME)
  string(MAKE_C_IDENTIFIER "Data_${name}" id)
  # One component per file, its GUID derived from the key path, so that each string file is
  # tracked on its own and keeps its identity from one version to the next.
  string(APPEND PLAINRUN_MSI_DATA_COMPONENTS
    "              <Component Id=\"${id}\" Guid=\"*\" Win64=\"yes\">\n"
    "                <File Id=\"${id}\" Name=\"${name}\" Source=\"$(var.Files)/Data/${name}\" KeyPath=\"yes\"/>\n"
    "              </Component>\n")
  string(APPEND PLAINRUN_MSI_DATA_REFS "      <ComponentRef Id=\"${id}\"/>\n")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/plainrunctl.wxs.in
  ${plainrun_msi_wxs_dir}/plainrunctl.wxs @ONLY)

# What a package is made from, in a file that the packing and release scripts (and the
# release test, which makes releases of its own elsewhere) include.
set(PLAINRUN_RELEASE_SETTINGS ${CMAKE_BINARY_DIR}/installer/release-settings.cmake)
file(GENERATE OUTPUT ${PLAINRUN_RELEASE_SETTINGS} CONTENT
"set(PROGRAM [==[$<TARGET_FILE:plainrunctl>]==])
set(TRACELIB [==[$<TARGET_FILE:tracelib>]==])
set(DATA_DIR [==[${PROJECT_SOURCE_DIR}/data]==])
set(ICON [==[${PROJECT_SOURCE_DIR}/app/plainrunctl.ico]==])
set(WIXL [==[${PLAINRUN_WIXL}]==])
set(MSIBUILD [==[${PLAINRUN_MSIBUILD}]==])
set(PYTHON [==[${PLAINRUN_MSI_PYTHON}]==])
set(OSSLSIGNCODE [==[${PLAINRUN_OSSLSIGNCODE}]==])
set(WXS_DIR [==[${plainrun_msi_wxs_dir}]==])
set(VERSION [==[${PLAINRUN_MSI_VERSION}]==])
set(PRODUCT_NAME [==[${PLAINRUN_MSI_PRODUCT_NAME}]==])
set(UPGRADE_CODE [==[${PLAINRUN_MSI_UPGRADE_CODE}]==])
set(SHORTCUT_RESOURCES [==[${PLAINRUN_SHORTCUT_RESOURCES}]==])
set(POLICY_DIR [==[${PROJECT_SOURCE_DIR}/policy]==])
")

# plainrun_add_msi(TARGET VERSION OUTPUT [ALL] [EPOCH SECONDS]): a target that makes the
# package OUTPUT of the given version from the current build, so that a test can have an
# older and a newer one; with ALL it is made by a plain build; with EPOCH its files and
# summary carry that time instead of SOURCE_DATE_EPOCH (a rebuild at another time).
function(plainrun_add_msi target version output)
  cmake_parse_arguments(PARSE_ARGV 3 arg "ALL" "EPOCH" "")
  # A product version is three numbers within Windows Installer's limits, or upgrades
  # compare wrongly.
  set(valid FALSE)
  if(version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    if(CMAKE_MATCH_1 LESS 256 AND CMAKE_MATCH_2 LESS 256 AND CMAKE_MATCH_3 LESS 65536)
      set(valid TRUE)
    endif()
  endif()
  if(NOT valid)
    message(FATAL_ERROR "plainrun_add_msi: '${version}' is not a package version (0-255.0-255.0-65535)")
  endif()
  set(all "")
  if(arg_ALL)
    set(all ALL)
  endif()
  set(env "")
  if(DEFINED arg_EPOCH)
    set(env ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${arg_EPOCH})
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${env} ${CMAKE_COMMAND} -D SETTINGS=${PLAINRUN_RELEASE_SETTINGS} -D MSI=${output} -D MSI_VERSION=${version}
            -D STAGE=${plainrun_msi_wxs_dir}/${target} -P ${PROJECT_SOURCE_DIR}/installer/PackMsi.cmake
    DEPENDS ${plainrun_msi_wxs_dir}/plainrunctl.wxs ${PROJECT_SOURCE_DIR}/installer/PackMsi.cmake
            ${PROJECT_SOURCE_DIR}/installer/seal_msi.py ${PROJECT_SOURCE_DIR}/app/plainrunctl.ico
            plainrunctl tracelib ${plainrun_msi_data_files}
    COMMENT "Packing ${output}"
    VERBATIM)
  add_custom_target(${target} ${all} DEPENDS ${output})
endfunction()

plainrun_add_msi(msi ${PLAINRUN_MSI_VERSION} ${CMAKE_BINARY_DIR}/plainrunctl-${PLAINRUN_MSI_VERSION}.msi)
