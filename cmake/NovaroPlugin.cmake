# novaro_plugin(<target> SOURCES <file>... [LIBRARIES <library>...] [ALIASES <name>...])
#
# A module the player loads at run time from the run directory's osgplugins/ folder: built there
# without the "lib" prefix, since OpenSceneGraph and the tracking library's plugin manager look
# modules up by bare name; one symbolic link per alias, since OpenSceneGraph finds a reader by the
# library name of a file's extension. Building the player builds its plugins.
function(novaro_plugin target)
  cmake_parse_arguments(PLUGIN "" "" "SOURCES;LIBRARIES;ALIASES" ${ARGN})
  add_library(${target} MODULE ${PLUGIN_SOURCES})
  target_link_libraries(${target} PRIVATE ${PLUGIN_LIBRARIES})
  # Installed, the plugins sit one folder below the tracking library they use.
  set_target_properties(${target} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${NOVARO_PLUGIN_DIR}
                        INSTALL_RPATH "$ORIGIN/..")
  install(TARGETS ${target} LIBRARY DESTINATION ${NOVARO_INSTALL_PLUGIN_DIR})
  foreach(alias ${PLUGIN_ALIASES})
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E create_symlink ${target}.so ${NOVARO_PLUGIN_DIR}/${alias}.so
      VERBATIM)
    install(CODE "file(CREATE_LINK ${target}.so
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${NOVARO_INSTALL_PLUGIN_DIR}/${alias}.so\" SYMBOLIC)")
  endforeach()
  add_dependencies(novaro ${target})
endfunction()
