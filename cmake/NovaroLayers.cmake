# The player's layers, lowest first, each a static library that may link only those below it.
#
# novaro_check_layers(<lowest> ... <highest>) checks, once the whole project is configured (so that
# links added later, in any folder, count too), that no layer's library names its own or a higher
# layer's library among its link libraries; a link that goes up fails the configuration. It also
# adds one executable per layer that links all of that layer's code (whole archive) with only the
# layers below, so that a call up a layer without a link, which the linker might otherwise resolve
# from a library that happens to come later, fails the build as an undefined reference.

# The names a link entry stands for: generator expressions and directory markers taken off.
function(novaro_link_entry_names entry result)
  string(REGEX REPLACE "\\$<LINK_ONLY:([^>]*)>" "\\1" entry "${entry}")
  string(REGEX REPLACE "::@\\(?[^)]*\\)?$" "" entry "${entry}")
  string(REGEX REPLACE "^::@.*" "" entry "${entry}")
  set(${result} "${entry}" PARENT_SCOPE)
endfunction()

function(novaro_check_layers_now)
  set(layers ${ARGN})
  list(LENGTH layers count)
  math(EXPR last "${count} - 1")
  foreach(index RANGE ${last})
    list(GET layers ${index} layer)
    get_target_property(direct ${layer} LINK_LIBRARIES)
    get_target_property(interface ${layer} INTERFACE_LINK_LIBRARIES)
    foreach(entry IN LISTS direct interface)
      novaro_link_entry_names("${entry}" name)
      list(FIND layers "${name}" reached)
      if(reached GREATER_EQUAL index)
        message(FATAL_ERROR "${layer} links ${name}, which is not below it in the layers "
                            "(${layers}): give the lower layer an interface that the higher one "
                            "implements instead (README, \"Layers\").")
      endif()
    endforeach()
  endforeach()
endfunction()

function(novaro_check_layers)
  # A deferred call reads its arguments when it runs: the layers are written into it now.
  list(JOIN ARGN " " layers)
  cmake_language(EVAL CODE
    "cmake_language(DEFER DIRECTORY \"${CMAKE_SOURCE_DIR}\" CALL novaro_check_layers_now ${layers})")
  set(main ${CMAKE_CURRENT_BINARY_DIR}/novaro_layer_check_main.cpp)
  file(WRITE ${main} "int main() { return 0; }\n")
  add_custom_target(novaro_layer_checks ALL)
  foreach(layer ${ARGN})
    set(check ${layer}_link_check)
    add_executable(${check} ${main})
    target_link_libraries(${check} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${layer}>")
    add_dependencies(novaro_layer_checks ${check})
  endforeach()
endfunction()
