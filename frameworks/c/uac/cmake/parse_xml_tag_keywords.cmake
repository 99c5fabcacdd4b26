# Writes the gperf keyword file of the tag names from the tag list.
#   cmake -DTAG_LIST=<parse_xml_tags.def> -DOUTPUT=<file.gperf> -P <this file>
# Each row PARSE_XML_TAG(name, number) of the list becomes the keyword
# "name, number"; the declarations ask gperf for a slot table of
# (name, number) entries, empty slots being (null, -1).
file(STRINGS "${TAG_LIST}" rows REGEX "^PARSE_XML_TAG\\(")
set(text "%{\n/* Generated from parse_xml_tags.def; do not edit. */\n#include <string.h>\n#include \"parse_xml_tag_hash.h\"\n%}\n")
string(APPEND text "%language=ANSI-C\n%struct-type\n%omit-struct-type\n%readonly-tables\n%global-table\n")
string(APPEND text "%null-strings\n%compare-lengths\n%compare-strncmp\n%define initializer-suffix ,-1\n")
string(APPEND text "%define hash-function-name parse_xml_tag_hash\n")
string(APPEND text "%define lookup-function-name parse_xml_tag_slot\n")
string(APPEND text "%define word-array-name parse_xml_tag_slots\n")
string(APPEND text "struct parse_xml_tag_slot_entry;\n%%\n")
set(count 0)
foreach(row IN LISTS rows)
  if(NOT row MATCHES "^PARSE_XML_TAG\\(([A-Za-z_][A-Za-z0-9_]*), *([0-9]+)\\)")
    message(FATAL_ERROR "Malformed tag row: ${row}")
  endif()
  if(NOT CMAKE_MATCH_2 EQUAL count)
    message(FATAL_ERROR "Tag ${CMAKE_MATCH_1} has number ${CMAKE_MATCH_2}, expected ${count}")
  endif()
  string(APPEND text "${CMAKE_MATCH_1}, ${CMAKE_MATCH_2}\n")
  math(EXPR count "${count} + 1")
endforeach()
string(APPEND text "%%\n")
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
