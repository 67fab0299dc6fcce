# Fails when a library includes a header of a library above it.
# Run as: cmake -DSOURCE_DIR=<repo>/src -P CheckLayering.cmake
#
# The layers, bottom to top. A folder of src/ may include headers of its own
# layer and of the layers below it, never of a layer above.
#   0  protocol, platform,  pure protocol code; the Linux and library layers;
#      messages             the operator messages in both languages
#   1  serial               the serial-port component
#   2  ui                   dialog seam, failure reporting, window helpers
#   3  params, i18n         parameter panel and files; languages and settings
#   4  app, cli             the two programs
# The folders of layer 0 stand side by side and do not know each other, with
# one exception: protocol takes its operator messages from messages. protocol
# and messages are plain C++.
set(level_protocol 0)
set(level_platform 0)
set(level_messages 0)
set(level_serial 1)
set(level_ui 2)
set(level_params 3)
set(level_i18n 3)
set(level_app 4)
set(level_cli 4)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckLayering: pass -DSOURCE_DIR=<repo>/src")
endif()

set(violations "")
file(GLOB folders LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY ${SOURCE_DIR}/${folder})
    continue()
  endif()
  if(NOT DEFINED level_${folder})
    string(APPEND violations "  src/${folder}/ has no layer: add it to CheckLayering.cmake\n")
    continue()
  endif()
  file(GLOB_RECURSE sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z0-9_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([a-z0-9_]+)/.*$" "\\1" target "${line}")
      if(NOT DEFINED level_${target})
        continue()
      endif()
      set(allowed TRUE)
      if(level_${target} GREATER level_${folder})
        set(allowed FALSE)
      elseif(level_${target} EQUAL 0 AND level_${folder} EQUAL 0 AND NOT target STREQUAL folder
             AND NOT (folder STREQUAL "protocol" AND target STREQUAL "messages"))
        set(allowed FALSE)
      endif()
      if(NOT allowed)
        file(RELATIVE_PATH shown ${SOURCE_DIR}/.. ${source})
        string(STRIP "${line}" line)
        string(APPEND violations "  ${shown}: ${line} (${folder} may not use ${target})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Layering violations:\n${violations}")
endif()
message(STATUS "Layering: every include points down")
