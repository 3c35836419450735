# The Windows Installer package, built with wixl: `cmake --build <dir> --target msi` makes
# plainrunctl-<version>.msi in the build folder from the program, the logging library and
# every string file in data/. Included once the plainrunctl and tracelib targets exist.
find_program(PLAINRUN_WIXL wixl REQUIRED)

set(PLAINRUN_MSI_VERSION ${PROJECT_VERSION} CACHE STRING
  "Version of the package the msi target makes (major.minor.build)")
set(PLAINRUN_MSI_PRODUCT_NAME "DERVO Outlook Connector switch")

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
  file(RELATIVE_PATH source ${plainrun_msi_wxs_dir} ${file})
  string(MAKE_C_IDENTIFIER "Data_${name}" id)
  # One component per file, its GUID derived from the key path, so that each string file is
  # tracked on its own and keeps its identity from one version to the next.
  string(APPEND PLAINRUN_MSI_DATA_COMPONENTS
    "              <Component Id=\"${id}\" Guid=\"*\" Win64=\"yes\">\n"
    "                <File Id=\"${id}\" Name=\"${name}\" Source=\"${source}\" KeyPath=\"yes\"/>\n"
    "              </Component>\n")
  string(APPEND PLAINRUN_MSI_DATA_REFS "      <ComponentRef Id=\"${id}\"/>\n")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/plainrunctl.wxs.in
  ${plainrun_msi_wxs_dir}/plainrunctl.wxs @ONLY)
# Kept for plainrun_add_msi, which may be called from any folder.
set_property(GLOBAL PROPERTY PLAINRUN_MSI_DATA_FILES ${plainrun_msi_data_files})
set_property(GLOBAL PROPERTY PLAINRUN_MSI_WXS_DIR ${plainrun_msi_wxs_dir})

# plainrun_add_msi(TARGET VERSION OUTPUT [ALL]): a target that makes the package OUTPUT of
# the given version from the current build, so that a test can have an older and a newer
# one; with ALL it is made by a plain build.
function(plainrun_add_msi target version output)
  cmake_parse_arguments(PARSE_ARGV 3 arg "ALL" "" "")
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
  get_property(wxs_dir GLOBAL PROPERTY PLAINRUN_MSI_WXS_DIR)
  get_property(data_files GLOBAL PROPERTY PLAINRUN_MSI_DATA_FILES)
  set(all "")
  if(arg_ALL)
    set(all ALL)
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${PLAINRUN_WIXL} -a x64
            -D Version=${version}
            -D ProgramFile=$<PATH:RELATIVE_PATH,$<TARGET_FILE:plainrunctl>,${wxs_dir}>
            -D TraceLibFile=$<PATH:RELATIVE_PATH,$<TARGET_FILE:tracelib>,${wxs_dir}>
            -o ${output} plainrunctl.wxs
    WORKING_DIRECTORY ${wxs_dir}
    DEPENDS ${wxs_dir}/plainrunctl.wxs plainrunctl tracelib ${data_files}
    COMMENT "Packing ${output}"
    VERBATIM)
  add_custom_target(${target} ${all} DEPENDS ${output})
endfunction()

plainrun_add_msi(msi ${PLAINRUN_MSI_VERSION} ${CMAKE_BINARY_DIR}/plainrunctl-${PLAINRUN_MSI_VERSION}.msi)
