# Packs plainrunctl.wxs into a Windows Installer package whose bytes depend only on what it
# holds. Included by MakeRelease.cmake, or run in script mode by the msi targets:
#   cmake -D SETTINGS=<build>/installer/release-settings.cmake -D MSI=<package>
#         -D MSI_VERSION=<x.y.z> -D STAGE=<folder> -P PackMsi.cmake
# SETTINGS names the program, the library, the icon, the string files' folder, wixl, msibuild, the
# Python that seals the package, the .wxs folder and the UpgradeCode.
#
# What makes two packs of the same files identical:
# - the ProductCode is a name-based UUID of the version in the UpgradeCode's namespace, so a
#   rebuilt package of one version is the same product to Windows Installer;
# - the files are packed from a staging folder with their times set to SOURCE_DATE_EPOCH (or
#   now, when it is unset), since the cabinet keeps each file's time;
# - the summary information's times are SOURCE_DATE_EPOCH too, and the PackageCode is a
#   name-based UUID of the package's own SHA-256 (seal_msi.py).

# plainrun_msi_product_code(OUT VERSION): the ProductCode of VERSION, in braces.
function(plainrun_msi_product_code out version)
  string(REGEX REPLACE "[{}]" "" namespace "${UPGRADE_CODE}")
  string(UUID code NAMESPACE "${namespace}" NAME "${version}" TYPE SHA1 UPPER)
  set(${out} "{${code}}" PARENT_SCOPE)
endfunction()

# plainrun_pack_msi(MSI VERSION PROGRAM TRACELIB STAGE): packs MSI of VERSION from the given
# program and library and every string file; STAGE is emptied and filled with what is packed.
function(plainrun_pack_msi msi version program tracelib stage)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  else()
    string(TIMESTAMP epoch "%s" UTC)
  endif()
  file(REMOVE_RECURSE "${stage}")
  file(MAKE_DIRECTORY "${stage}/Data")
  file(COPY_FILE "${program}" "${stage}/plainrunctl.exe")
  file(COPY_FILE "${tracelib}" "${stage}/tracelib.dll")
  file(COPY_FILE "${ICON}" "${stage}/plainrunctl.ico")
  file(GLOB data_files "${DATA_DIR}/*.xml")
  file(COPY ${data_files} DESTINATION "${stage}/Data")
  file(GLOB_RECURSE staged "${stage}/*")
  execute_process(COMMAND touch -d "@${epoch}" ${staged} COMMAND_ERROR_IS_FATAL ANY)

  plainrun_msi_product_code(product_code "${version}")
  # wixl takes File sources only relative to the folder of the .wxs file.
  file(RELATIVE_PATH files "${WXS_DIR}" "${stage}")
  execute_process(
    COMMAND "${WIXL}" -a x64 -D Version=${version} -D ProductCode=${product_code} -D Files=${files}
            -o "${msi}" plainrunctl.wxs
    WORKING_DIRECTORY "${WXS_DIR}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "packing ${msi} failed:\n${output}")
  endif()
  # What wixl cannot declare: the condition under which the Start-menu shortcuts are
  # installed, and the program's string resources that give their names and descriptions in
  # the user's language (installer/Shortcuts.cmake).
  set(queries "UPDATE `Component` SET `Condition` = 'SHORTCUTS <> \"0\"' WHERE `Component` = 'StartMenu'")
  foreach(shortcut IN LISTS SHORTCUT_RESOURCES)
    string(REPLACE ":" ";" ids "${shortcut}")
    list(GET ids 0 row)
    list(GET ids 1 name_id)
    list(GET ids 2 description_id)
    list(APPEND queries "UPDATE `Shortcut` SET `DisplayResourceDLL` = '[#plainrunctl.exe]', `DisplayResourceId` = ${name_id}, \
`DescriptionResourceDLL` = '[#plainrunctl.exe]', `DescriptionResourceId` = ${description_id} WHERE `Shortcut` = '${row}'")
  endforeach()
  foreach(query IN LISTS queries)
    execute_process(COMMAND "${MSIBUILD}" "${msi}" -q "${query}"
      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${query} in ${msi} failed:\n${output}")
    endif()
  endforeach()
  execute_process(COMMAND "${PYTHON}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/seal_msi.py" "${msi}" "${epoch}"
                          "${product_code}"
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "sealing ${msi} failed:\n${output}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  include("${SETTINGS}")
  plainrun_pack_msi("${MSI}" "${MSI_VERSION}" "${PROGRAM}" "${TRACELIB}" "${STAGE}")
endif()
