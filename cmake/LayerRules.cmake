# The layers may include only what lies below them; a file that reaches up breaks the build here,
# at configure time, before it can grow into a dependency cycle.
set(lumora_layer_rules
  "framework:framework"
  "platform:framework platform"
  "audiolib:audiolib"
  "pictures:framework platform pictures"
  "audio:framework platform audio audiolib/AudioLib.h audiolib/TagBlocks.h"
  "resources:framework resources"
  "engine:framework platform pictures audio resources engine"
  "dialogs:framework platform pictures audio resources engine dialogs")
set(lumora_layer_faults "")
foreach(rule ${lumora_layer_rules})
  string(REPLACE ":" ";" parts "${rule}")
  list(GET parts 0 layer)
  list(GET parts 1 allowed)
  string(REPLACE " " ";" allowed "${allowed}")
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${layer}/*.cpp ${CMAKE_SOURCE_DIR}/${layer}/*.h)
  foreach(file ${files})
    file(STRINGS ${file} includes REGEX "^#include \"(framework|platform|audiolib|pictures|audio|resources|engine|dialogs)/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" path "${line}")
      set(ok FALSE)
      foreach(prefix ${allowed})
        if(path STREQUAL prefix OR path MATCHES "^${prefix}/")
          set(ok TRUE)
        endif()
      endforeach()
      if(NOT ok)
        file(RELATIVE_PATH where ${CMAKE_SOURCE_DIR} ${file})
        string(APPEND lumora_layer_faults "\n  ${where} includes ${path}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(lumora_layer_faults)
  message(FATAL_ERROR "Includes that break the layering:${lumora_layer_faults}")
endif()
