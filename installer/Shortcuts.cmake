# The Start-menu shortcuts in the user's language: their names and descriptions
# (installer/shortcuts.tsv) become string resources of plainrunctl.exe, one string table per
# language and a language-neutral one in English, which Windows falls back to. The package's
# Shortcut table points at them (installer/PackMsi.cmake), so Windows shows each user the
# names in their own display language. Included by Installer.cmake once plainrunctl exists.

# The string ids: the name and the description of each shortcut, as the Shortcut table's
# rows name them ("row:name-id:description-id").
set(PLAINRUN_SHORTCUT_RESOURCES "DisableShortcut:101:102;EnableShortcut:103:104")

set(table ${CMAKE_CURRENT_LIST_DIR}/shortcuts.tsv)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
file(STRINGS ${table} rows ENCODING UTF-8 REGEX "^[0-9]")

# rc_text(OUT TEXT): TEXT as a resource-script string.
function(rc_text out text)
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# The table's columns with the texts, and the string ids they become (in the same order).
set(string_columns 2 3 4 5)
string(REGEX MATCHALL "[0-9]+" string_ids "${PLAINRUN_SHORTCUT_RESOURCES}")
set(rc "#pragma code_page(65001)\n// Made by installer/Shortcuts.cmake from installer/shortcuts.tsv.\n")
set(lcids "")
foreach(row IN LISTS rows)
  string(REPLACE "\t" ";" fields "${row}")
  list(LENGTH fields count)
  if(NOT count EQUAL 6)
    message(FATAL_ERROR "installer/shortcuts.tsv: a row has ${count} columns, not 6: ${row}")
  endif()
  list(GET fields 0 lcid)
  list(APPEND lcids ${lcid})
  math(EXPR primary "${lcid} % 1024" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR sub "${lcid} / 1024" OUTPUT_FORMAT HEXADECIMAL)
  set(languages "${primary}, ${sub}")
  # English is also the language-neutral table, the one Windows takes for any other language.
  if(lcid EQUAL 1033)
    list(APPEND languages "0, 0")
  endif()
  set(strings "")
  foreach(column id IN ZIP_LISTS string_columns string_ids)
    list(GET fields ${column} text)
    rc_text(text "${text}")
    string(APPEND strings "  ${id}, ${text}\n")
  endforeach()
  foreach(language IN LISTS languages)
    string(APPEND rc "LANGUAGE ${language}\nSTRINGTABLE\nBEGIN\n${strings}END\n")
  endforeach()
endforeach()

# Every language that a string file is shipped for has its shortcut names.
file(GLOB data_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/modulestrings*.xml)
foreach(file IN LISTS data_files)
  set(lcid 1033)
  if(file MATCHES "modulestrings_([0-9]+)\\.xml$")
    set(lcid ${CMAKE_MATCH_1})
  endif()
  if(NOT lcid IN_LIST lcids)
    message(FATAL_ERROR "installer/shortcuts.tsv has no row for ${lcid}, the language of ${file}")
  endif()
endforeach()

file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/installer/shortcut_strings.rc CONTENT "${rc}" @ONLY)
target_sources(plainrunctl PRIVATE ${CMAKE_BINARY_DIR}/installer/shortcut_strings.rc)
