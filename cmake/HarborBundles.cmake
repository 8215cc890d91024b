# Application bundles, ready to run, from folders of pages.
#
#   harbor_add_bundles(TARGET <target> SOURCE <folder> OUTPUT <folder> [GENERATED_RESOURCES <folder>])
#
# Each <SOURCE>/<name> that has a config.xml is copied into <OUTPUT>/<name> by <TARGET> (built by
# default), with the container's page script added as www/harbor.js, each plugin's page modules
# as www/plugins/<plugin folder>/<module>.js, and each plugin's resources/ (such as the dialogs
# plugin's HBRNotification.bundle) and what GENERATED_RESOURCES holds (resources the plugins make
# at build time, after the targets of the global property HARBOR_GENERATED_RESOURCE_TARGETS) at
# the top of the bundle; the source folders do not keep copies. The folders are looked for at
# every build, so a new application needs no new cmake run: `cmake --build` finds it.
# HARBOR_SOURCE_DIR is the Harbor sources (www/harbor.js, Plugins/).
function(harbor_add_bundles)
  cmake_parse_arguments(arg "" "TARGET;SOURCE;OUTPUT;GENERATED_RESOURCES" "" ${ARGN})
  file(GLOB configs CONFIGURE_DEPENDS ${arg_SOURCE}/*/config.xml)
  file(GLOB plugin_scripts CONFIGURE_DEPENDS ${HARBOR_SOURCE_DIR}/Plugins/*/www/*.js)
  file(GLOB plugin_resource_dirs LIST_DIRECTORIES true ${HARBOR_SOURCE_DIR}/Plugins/*/resources)
  file(GLOB_RECURSE plugin_resources CONFIGURE_DEPENDS ${HARBOR_SOURCE_DIR}/Plugins/*/resources/*)
  get_property(generated_resource_targets GLOBAL PROPERTY HARBOR_GENERATED_RESOURCE_TARGETS)

  set(stamps "")
  foreach(config ${configs})
    get_filename_component(example ${config} DIRECTORY)
    get_filename_component(name ${example} NAME)
    set(out ${arg_OUTPUT}/${name})
    file(GLOB_RECURSE example_files CONFIGURE_DEPENDS ${example}/*)
    set(copy_scripts "")
    foreach(script ${plugin_scripts})
      get_filename_component(script_dir ${script} DIRECTORY)
      get_filename_component(plugin_dir ${script_dir} DIRECTORY)
      get_filename_component(plugin ${plugin_dir} NAME)
      get_filename_component(script_name ${script} NAME)
      list(APPEND copy_scripts
           COMMAND ${CMAKE_COMMAND} -E make_directory ${out}/www/plugins/${plugin}
           COMMAND ${CMAKE_COMMAND} -E copy ${script} ${out}/www/plugins/${plugin}/${script_name})
    endforeach()
    set(copy_resources "")
    foreach(resources ${plugin_resource_dirs})
      if(IS_DIRECTORY ${resources})
        list(APPEND copy_resources COMMAND ${CMAKE_COMMAND} -E copy_directory ${resources} ${out})
      endif()
    endforeach()
    if(arg_GENERATED_RESOURCES)
      list(APPEND copy_resources COMMAND ${CMAKE_COMMAND} -E copy_directory ${arg_GENERATED_RESOURCES} ${out})
    endif()
    add_custom_command(
      OUTPUT ${arg_OUTPUT}/${name}.stamp
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${out}
      COMMAND ${CMAKE_COMMAND} -E copy_directory ${example} ${out}
      COMMAND ${CMAKE_COMMAND} -E copy ${HARBOR_SOURCE_DIR}/www/harbor.js ${out}/www/harbor.js
      ${copy_scripts}
      ${copy_resources}
      COMMAND ${CMAKE_COMMAND} -E touch ${arg_OUTPUT}/${name}.stamp
      DEPENDS ${example_files} ${HARBOR_SOURCE_DIR}/www/harbor.js ${plugin_scripts} ${plugin_resources}
              ${generated_resource_targets}
      COMMENT "Preparing the application bundle ${name}"
      VERBATIM)
    list(APPEND stamps ${arg_OUTPUT}/${name}.stamp)
  endforeach()
  add_custom_target(${arg_TARGET} ALL DEPENDS ${stamps})
  if(generated_resource_targets)
    add_dependencies(${arg_TARGET} ${generated_resource_targets})
  endif()
endfunction()
